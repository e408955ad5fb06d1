#pragma once

// Lemmas: the headword each word form belongs to (ran, runs, running -> run). They come from
// lemma lists of the user's, from English data built into the program (WordNet 3.0) and from the
// Hunspell dictionaries installed on the machine.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>

namespace corvalen {

/// The languages with lemmas on this machine, by code: "en" (built in) and each language whose
/// Hunspell dictionary is installed, in alphabetical order.
QStringList lemmaLanguages();
/// Whether name is a lemma language of this machine: a code of lemmaLanguages() or a dictionary's
/// own name ("de_AT"), in any letter case, "-" or "_" before the region.
bool isLemmaLanguage(const QString &name);
/// Where the lemmas of a language come from, as the help and the dialog name it.
QString lemmaLanguageSource(const QString &name);
/// Whether name has the shape of a language code ("it", "pt_BR") rather than of a file name.
bool looksLikeLanguageCode(const QString &name);
/// The Debian package that installs the Hunspell dictionary of a language code ("hunspell-it").
QString hunspellPackageOf(const QString &code);

/// A word in lower case as the count makes it when case is ignored (the simple mapping of each
/// character), punctuation left as it is.
QString lowerCaseWord(QStringView word);

/// The headwords of the word forms of a count, from its lemma sources: lists of the user's first
/// (in the order given; of a form listed twice, the first listing counts), then the languages (in
/// the order given). Shared by every finder of the same rules; lemmaOf() may be called from any
/// thread.
class Lemmatizer
{
public:
    /// What an entry of the data (a form or a headword) becomes before it meets the counted words:
    /// cleaned as the rules clean words, letter case kept; empty when nothing is left.
    using Cleaner = std::function<QString(QStringView entry)>;

    /// Reads the sources: language codes or paths of UTF-8 lemma lists. cleaning names what clean
    /// does: loads of the same name share the built-in data, read once. Null, with error set to a
    /// sentence naming the source (and for a list, the line) at fault, when one cannot be read;
    /// notes receives what the user should know (forms listed under two lemmas).
    static std::shared_ptr<const Lemmatizer> load(const QStringList &sources, const Cleaner &clean,
                                                   const QString &cleaning, QString *error, QStringList *notes);
    ~Lemmatizer();

    /// The headword of a counted word as its source writes it; false when no source knows the
    /// word (it then stays itself).
    bool lemmaOf(QStringView word, QString &lemma) const;

    struct Private;

private:
    bool englishLemmaOf(const QString &lower, QString &lemma) const;
    Lemmatizer();
    std::unique_ptr<Private> d;
};

} // namespace corvalen
