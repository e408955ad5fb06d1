#pragma once

#include "corpus/corpusquery.h"
#include "corpus/corpusscan.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace corvalen {

/// Where a cluster holds the query.
enum class ClusterPlace {
    Left,     ///< the cluster starts with it
    Right,    ///< the cluster ends with it
    Anywhere, ///< anywhere in the cluster
};
/// The command line's names: left, right, any.
std::optional<ClusterPlace> clusterPlaceFromName(const QString &name);

/// What a cluster search looks for.
struct ClusterRequest
{
    static constexpr int kMinSize = 2;
    static constexpr int kMaxSize = 5;

    QStringList files;
    std::shared_ptr<const WordFinder> finder; ///< the count's rules, made ready
    CorpusQuery query;
    int minSize = 2; ///< words of the shortest cluster, 2 to 5
    int maxSize = 4; ///< and of the longest
    ClusterPlace place = ClusterPlace::Anywhere;
    /// The least count a cluster is wanted with: a longer cluster is counted only where the shorter
    /// one it holds reaches it (it can occur no more often), which keeps the counting small.
    qint64 minCount = 2;
};

/// A recurring run of words around the query.
struct ClusterRow
{
    QString cluster; ///< its words joined by spaces, as counted
    qint64 count = 0;
    qint64 files = 0; ///< the files it occurs in
};

struct ClusterResult
{
    std::vector<ClusterRow> rows;
    /// Files that could not be read (index in the request, reason): they add nothing.
    std::vector<std::pair<qint32, QString>> failures;
    bool complete = true; ///< false when stopped
};

/// Finds the clusters of a query: runs of N consecutive counted words of one paragraph (as phrases
/// are counted: never across a paragraph end, a stop word or a short word, nor from one file into
/// the next), N from minSize to maxSize, that hold an occurrence of the query at the place asked.
/// A run that holds the query twice counts once. With word forms grouped a cluster is made of
/// groups, each shown by its lemma or its stem's most frequent form. The files are read on both
/// cores. Clusters
/// counted fewer times than the request's minCount may be missing from the rows.
ClusterResult findClusters(const ClusterRequest &request, const std::atomic<bool> *stop = nullptr,
                           Progress *progress = nullptr);

/// The clusters counted at least minCount times, most frequent first, ties by the Unicode root
/// collation of the cluster; the first `top` of them (all with a negative top).
std::vector<ClusterRow> selectClusters(std::vector<ClusterRow> rows, qint64 minCount = 2, qint64 top = -1);

} // namespace corvalen
