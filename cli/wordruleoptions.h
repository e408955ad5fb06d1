#pragma once

#include "engine/wordrules.h"

#include <optional>

class QCommandLineParser;

namespace corvalen {

/// Adds the word-rule options (--words, --hyphens, --paragraphs, --punctuation, --stop-words,
/// --min-length, --stem, --lemmas, --ngrams) to a command's parser: every command that finds words
/// takes the same ones.
void addWordRuleOptions(QCommandLineParser &parser);

/// The rules the parsed options give; nullopt with error set to a usage message for a value that
/// is out of range, unknown or given twice. Stop-word lists are not read here: WordFinder::create()
/// reads them, and names the one that cannot be read (so are lemma lists). notes, when given,
/// receives what the user should know of the options taken (a file hidden by a built-in list's
/// name).
std::optional<WordRules> wordRulesFromParser(const QCommandLineParser &parser, QString *error,
                                             QStringList *notes = nullptr);

/// Why a word can never be counted under finder's rules (nothing left once cleaned, too short, a
/// stop word), as a sentence that names the option concerned; empty when it can be.
QString whyNeverCounted(const WordFinder &finder, const QString &word);

} // namespace corvalen
