#pragma once

#include "corpus/corpusscan.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

namespace corvalen {

/// Type/token ratios that do not fall with a text's length, of one file or of several.
struct LexicalVariety
{
    static constexpr qint64 kPart = 1000;  ///< words of a part of the standardised ratio
    static constexpr qint64 kWindow = 500; ///< words of the moving average's window

    qint64 tokens = 0;
    /// The mean type/token ratio of the consecutive 1,000-word parts (a last shorter part left
    /// out; a text shorter than 1,000 words: its plain ratio).
    double standardised = 0;
    /// The mean type/token ratio of the 500-word windows, sliding one word at a time (a text
    /// shorter than 500 words: its plain ratio).
    double movingAverage = 0;
    /// The parts and windows the means are taken over (a short text: one of each).
    qint64 parts = 0;
    qint64 windows = 0;
};

struct LexicalVarietyResult
{
    std::vector<LexicalVariety> files; ///< in the order of the files (a file not read: no tokens)
    /// Of all files together: the mean over the parts, and over the windows, of every file.
    LexicalVariety all;
    /// Files that could not be read (index, reason).
    std::vector<std::pair<qint32, QString>> failures;
    bool complete = true;
};

/// The standardised and moving-average type/token ratios of each file and of all, over the words
/// (or phrases) the count counts with finder's rules: words as counted, forms of a group one type
/// when the rules group them, phrases of --ngrams words. The files are read on both cores; words
/// are told apart by a 64-bit hash of their text, so that no table of them is needed.
LexicalVarietyResult measureLexicalVariety(const QStringList &files, std::shared_ptr<const WordFinder> finder,
                                           const std::atomic<bool> *stop = nullptr, Progress *progress = nullptr);

} // namespace corvalen
