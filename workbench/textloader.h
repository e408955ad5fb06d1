#pragma once

#include "base/stoppedthreads.h"
#include "engine/wordrules.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

namespace corvalen {

/// A piece of a file's text, whole paragraphs of it (a paragraph too long for one line of the view
/// is cut into several, at a space where there is one), as the file view shows it: control
/// characters other than tabs as spaces, so that every place in it is the place in the text the
/// document engine gives.
struct TextPage
{
    QString text;   ///< from the end of the page before, paragraph ends included
    qint64 start = 0; ///< where text[0] lies in the file's text
    /// The view's blocks: the start (in text) and length of each, paragraph ends left out.
    std::vector<std::pair<qint32, qint32>> blocks;
};

/// Reads one file's text through the document engine off the calling thread and hands it over in
/// pages of about a million characters, the first at once, the next at most every 50 ms: a big
/// file shows its start at once and the rest follows while it can be read.
class TextLoader : public QObject
{
    Q_OBJECT

public:
    /// Units of a page, at least (a page ends at a block's end).
    static constexpr qsizetype kPageUnits = qsizetype(1) << 20;
    /// The longest block: a longer paragraph is cut.
    static constexpr qsizetype kBlockUnits = 2000;

    explicit TextLoader(QObject *parent = nullptr);
    /// Stops reading and waits for the thread (and those of loads it replaced).
    ~TextLoader() override;

    /// Starts reading a file, forgetting a load under way; its paragraphs as the word rules
    /// end them, so that the text is the one the tools found their hits in.
    void load(const QString &path, WordRules::Paragraphs paragraphs = WordRules::Paragraphs::Lines);
    void stop();
    bool isLoading() const { return m_loading; }

    /// Cuts text into pages as load() does (for a text at hand).
    static std::vector<TextPage> pagesOf(const QString &text);

signals:
    void pageLoaded(corvalen::TextPage &page);
    /// The whole text was read (complete), or reading failed: failure says why.
    void finished(bool complete, const QString &failure);

private:
    struct Shared;
    void handOver(const std::shared_ptr<Shared> &shared);
    void retire();

    std::shared_ptr<Shared> m_shared;
    StoppedThreads m_stopped{this}; // stopped, their threads not yet done
    bool m_loading = false;
    QElapsedTimer m_lastHandOver;
};

} // namespace corvalen
