#include "host/screens/VisualOrder.h"

#include <fribidi.h>

#include <algorithm>

#include "host/tty/TerminalPaint.h"
#include "platform/foundation/Unicode.h"

namespace host {
namespace {

bool isBidiControl(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::vector<VisualCluster> visualOrder(std::string_view line, bool* rightToLeft) {
    std::vector<VisualCluster> clusters;
    std::vector<FriBidiChar> scalars;
    std::vector<std::size_t> clusterOf;  // for each scalar, its cluster
    bool anyRightToLeft = false;
    for (std::size_t at = 0; at < line.size();) {
        const Cluster cluster = clusterAt(line, at);
        clusters.push_back({at, cluster.size, {}});
        for (std::size_t i = at; i < at + cluster.size;) {
            const char32_t c = platform::nextScalar(line, i);
            scalars.push_back(c);
            clusterOf.push_back(clusters.size() - 1);
            anyRightToLeft = anyRightToLeft || FRIBIDI_IS_RTL(fribidi_get_bidi_type(c));
        }
        at += cluster.size;
    }
    if (rightToLeft)
        *rightToLeft = false;
    if (!anyRightToLeft)
        return clusters;

    const auto count = static_cast<FriBidiStrIndex>(scalars.size());
    std::vector<FriBidiCharType> types(scalars.size());
    std::vector<FriBidiBracketType> brackets(scalars.size());
    std::vector<FriBidiLevel> levels(scalars.size());
    fribidi_get_bidi_types(scalars.data(), count, types.data());
    // The controls are drawn as their names, so they do not embed or override anything.
    for (std::size_t i = 0; i < scalars.size(); ++i) {
        if (isBidiControl(static_cast<char32_t>(scalars[i])))
            types[i] = FRIBIDI_TYPE_ON;
    }
    fribidi_get_bracket_types(scalars.data(), count, types.data(), brackets.data());
    FriBidiParType direction = FRIBIDI_PAR_ON;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), count, &direction,
                                            levels.data()) == 0)
        return clusters;
    if (rightToLeft)
        *rightToLeft = FRIBIDI_IS_RTL(direction);

    // A cluster takes the level of its first character (its marks follow it).
    std::vector<FriBidiLevel> clusterLevels(clusters.size(), 0);
    for (std::size_t i = scalars.size(); i-- > 0;)
        clusterLevels[clusterOf[i]] = levels[i];
    for (std::size_t c = 0; c < clusters.size(); ++c) {
        FriBidiChar mirror = 0;
        const VisualCluster& cluster = clusters[c];
        if (clusterLevels[c] % 2 == 1 && cluster.size == 1 &&
            fribidi_get_mirror_char(static_cast<FriBidiChar>(line[cluster.start]), &mirror))
            clusters[c].mirrored = std::u32string(1, static_cast<char32_t>(mirror));
    }
    // Reversing, from the highest level down to the lowest odd one, every run at that level or
    // higher (rule L2 of the algorithm).
    const FriBidiLevel highest = *std::max_element(clusterLevels.begin(), clusterLevels.end());
    FriBidiLevel lowestOdd = highest + 1;
    for (const FriBidiLevel level : clusterLevels) {
        if (level % 2 == 1)
            lowestOdd = std::min(lowestOdd, level);
    }
    std::vector<std::size_t> order(clusters.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    for (FriBidiLevel level = highest; level >= lowestOdd && level > 0; --level) {
        for (std::size_t i = 0; i < order.size();) {
            if (clusterLevels[order[i]] < level) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < order.size() && clusterLevels[order[end]] >= level)
                ++end;
            std::reverse(order.begin() + static_cast<std::ptrdiff_t>(i),
                         order.begin() + static_cast<std::ptrdiff_t>(end));
            i = end;
        }
    }
    std::vector<VisualCluster> visual;
    visual.reserve(clusters.size());
    for (const std::size_t i : order)
        visual.push_back(std::move(clusters[i]));
    return visual;
}

}  // namespace host
