// The field filter worked out again from its rules, step by step and
// without the display's code: motion measurement with its still counts,
// the edge-direction search left to right and right to left over the cost
// cache, the combined block directions and the rows they produce. The
// tests run the display's filter and this one on the same pictures and
// compare every work row.
//
// Where the rules leave the choice to the display, this follows the
// display's choices: a read before or after a row takes the row's edge
// pixel, a line past the last is the last line, cache bytes outside the
// picture's blocks read as 0 and are not written, and the part blocks at
// the right and bottom edges (not measured) count as moving.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

namespace fieldrule {

struct TLumaPicture {
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> y; // rows of w bytes
    uint8_t At(uint32_t x, uint32_t r) const { return y[(size_t)r * w + x]; }
};

// What one run of the filter did, for the tests to check that a fixture
// really exercises a rule.
struct TFilterCounts {
    uint32_t blocks = 0;         // blocks searched (both passes)
    uint32_t positive = 0;       // combined block directions above 0
    uint32_t negative = 0;       // and below 0
    uint32_t refinements = 0;    // refinement steps taken (a lower cost found)
    uint32_t earlyStops = 0;     // candidate searches that stopped at a cost below 8
    uint32_t markedKeeps = 0;    // right-pass blocks kept by the mark
    uint32_t cachedCosts = 0;    // right-pass costs taken from the cache
    uint32_t stillPixels = 0;    // pixels taken from the current and previous picture
    uint32_t movingPixels = 0;   // pixels interpolated along a direction
    uint32_t nearStill = 0;      // block sums of 768 .. 799 on a block not yet still twice
    uint32_t nearMoving = 0;     // block sums of 993 .. 1024 on a block with a still count
    uint32_t resets = 0;         // block sums above 1024 on a block with a still count
    uint32_t stillBy7 = 0;       // still pixels whose two lines differ by 7
    uint32_t movingBy8 = 0;      // pixels of still blocks whose lines differ by 8
    uint32_t edgeDirections = 0; // candidates -8 or +8 tried
};

class TFieldRule {
public:
    // The state after four pictures equal to `first` of this size: the
    // previous picture is `first`, every whole block has been still twice
    // and holds no sums.
    void StartStill(const TLumaPicture& first)
    {
        w = first.w;
        h = first.h;
        prev.assign((size_t)(w & ~3u) * h, 0);
        for (uint32_t r = 0; r < h; r++) memcpy(&prev[(size_t)r * (w & ~3u)], &first.y[(size_t)r * w], w & ~3u);
        memset(still, 0, sizeof still);
        memset(sum, 0, sizeof sum);
        memset(odd, 0, sizeof odd);
        for (uint32_t b = 0; b < h / 16; b++)
            for (uint32_t g = 0; g < w / 16; g++) still[b][g] = 2;
    }

    // One picture through the filter with field flag F and deinterlace
    // flag D; the work rows it produces, rows of w bytes.
    std::vector<std::vector<uint8_t>> Run(const TLumaPicture& p, uint32_t F, uint32_t D, TFilterCounts* counts)
    {
        pic = &p;
        c = counts;
        if (D) Measure();
        uint32_t t = F ? 1 : 2;
        std::vector<std::vector<uint8_t>> rows;
        rows.push_back(Line(0));
        for (uint32_t k = 0; k * t < h; k++) {
            std::vector<uint8_t> above = rows.back(), below = Line((k + 1) * t);
            std::vector<int32_t> dir = BlockDirections(above, below);
            std::vector<uint8_t> out(w);
            uint32_t other = (F ? 0 : 1) + k * t;
            if (other >= h) other = h - 1;
            uint32_t band = k * t / 16;
            for (uint32_t x = 0; x < w; x++) {
                int32_t f = dir[x / 8];
                uint32_t s = 0;
                if (D && band < h / 16 && x / 16 < w / 16) s = still[band][x / 16];
                int32_t cur = pic->At(x, other), was = prev[(size_t)other * (w & ~3u) + x];
                int32_t diff = cur > was ? cur - was : was - cur;
                uint32_t a, b;
                if (D && s == 2 && diff < 8) {
                    a = (uint32_t)cur;
                    b = (uint32_t)was;
                    if (c) c->stillPixels++;
                    if (c && diff == 7) c->stillBy7++;
                } else {
                    if (c && D && s == 2 && diff == 8) c->movingBy8++;
                    a = Edge(above, (int32_t)x + f);
                    b = Edge(below, (int32_t)x - f);
                    if (c) c->movingPixels++;
                }
                out[x] = (uint8_t)((a + b) / 2);
            }
            rows.push_back(out);
            rows.push_back(below);
        }
        // rows: 0, then per step the produced row and the next source line.
        if (D)
            for (uint32_t r = 0; r < h; r++) memcpy(&prev[(size_t)r * (w & ~3u)], &p.y[(size_t)r * w], w & ~3u);
        return rows;
    }

private:
    uint32_t w = 0, h = 0;
    const TLumaPicture* pic = nullptr;
    TFilterCounts* c = nullptr;
    std::vector<uint8_t> prev;
    // One entry per 16 x 16 block of the largest picture (704 x 576).
    static constexpr uint32_t kBands = 36, kGroups = 44;
    uint32_t still[kBands][kGroups];
    uint32_t sum[kBands][kGroups];
    uint32_t odd[kBands][kGroups];
    std::vector<uint8_t> cache;
    uint32_t blocks = 0;

    std::vector<uint8_t> Line(uint32_t n) const
    {
        if (n >= h) n = h - 1;
        return std::vector<uint8_t>(pic->y.begin() + (size_t)n * w, pic->y.begin() + (size_t)(n + 1) * w);
    }
    uint32_t Edge(const std::vector<uint8_t>& row, int32_t x) const
    {
        if (x < 0) x = 0;
        if (x >= (int32_t)w) x = (int32_t)w - 1;
        return row[(size_t)x];
    }
    // The difference as the filter counts it: one less than the true one
    // when a < b.
    static uint32_t Difference(uint32_t a, uint32_t b) { return a >= b ? a - b : b - a - 1; }
    uint32_t Sad4(const std::vector<uint8_t>& p, int32_t px, const std::vector<uint8_t>& q, int32_t qx) const
    {
        uint32_t s = 0;
        for (int32_t i = 0; i < 8; i += 2) s += Difference(Edge(p, px + i), Edge(q, qx + i));
        return s;
    }
    static uint32_t Saturated(uint32_t v) { return v > 65535 ? 65535 : v; }

    void Measure()
    {
        uint32_t ps = w & ~3u;
        auto sad4At = [&](uint32_t line, uint32_t x) {
            uint32_t s = 0;
            for (uint32_t i = 0; i < 8; i += 2) s += Difference(pic->At(x + i, line), prev[(size_t)line * ps + x + i]);
            return s;
        };
        for (uint32_t r = 0; r < h / 2; r++) {
            uint32_t band = r / 8;
            if (band >= kBands) continue;
            for (uint32_t g = 0; g < w / 16 && g < kGroups; g++)
                for (uint32_t half = 0; half < 2; half++) {
                    uint32_t x = 16 * g + 8 * half;
                    sum[band][g] = Saturated(sum[band][g] + sad4At(2 * r, x));
                    odd[band][g] = Saturated(odd[band][g] + sad4At(2 * r + 1, x));
                }
        }
        for (uint32_t b = 0; b < h / 16; b++)
            for (uint32_t g = 0; g < w / 16; g++) {
                uint32_t s = sum[b][g];
                if (c && s >= 768 && s < 800 && still[b][g] < 2) c->nearStill++;
                if (c && s > 992 && s <= 1024 && still[b][g] > 0) c->nearMoving++;
                if (c && s > 1024 && still[b][g] > 0) c->resets++;
                sum[b][g] = odd[b][g];
                odd[b][g] = 0;
                if (s > 1024) still[b][g] = 0;
                if (s < 768) still[b][g] += 1;
                if (still[b][g] > 2) still[b][g] = 2;
            }
    }

    // Cache byte of (block, e): byte e + 7 of the block's 15.
    int32_t CacheIndex(uint32_t block, int32_t e) const { return (int32_t)block * 15 + e + 7; }
    uint8_t CacheAt(uint32_t block, int32_t e) const
    {
        int32_t i = CacheIndex(block, e);
        return i >= 0 && i < (int32_t)cache.size() ? cache[(size_t)i] : 0;
    }
    // A cost written as a 32-bit little-endian word: the byte and three zeros.
    void CachePut(uint32_t block, int32_t e, uint32_t cost)
    {
        for (int32_t k = 0; k < 4; k++) {
            int32_t i = CacheIndex(block, e) + k;
            if (i >= 0 && i < (int32_t)cache.size()) cache[(size_t)i] = k == 0 ? (uint8_t)cost : 0;
        }
    }
    static int32_t Clamped(int32_t e) { return e < -7 ? -7 : e > 7 ? 7 : e; }
    static int32_t Magnitude(int32_t e) { return e < 0 ? -e : e; }

    uint32_t Cost(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t x, int32_t e, uint32_t bias,
                  int32_t termE) const
    {
        uint32_t raw =
            (bias + 8) * 4 + ((uint32_t)Magnitude(termE) * 4) / 2 + Sad4(a, (int32_t)x + e, b, (int32_t)x - e);
        return Saturated(raw) / 16;
    }

    // The slot with the lowest cost, the lower slot on a tie.
    static uint32_t Lowest(const uint32_t* costs)
    {
        uint32_t best = 0;
        for (uint32_t s = 1; s < 8; s++)
            if (costs[s] < costs[best]) best = s;
        return best;
    }
    static int32_t ByDirectionSlot(uint32_t slot, int32_t d)
    {
        int32_t e = d;
        if (slot == 2) e = d - 1;
        if (slot == 4) e = d + 1;
        if (slot == 6) e = 0;
        if (slot == 7) e = -d;
        return Clamped(e);
    }

    // After slot 2 or 4 won with a cost above 8: further steps the same
    // way from d (at most 5, within -7..+7), each kept while its cost is
    // lower than the best so far, until the best falls below 8.
    template <typename CostOf> int32_t Refine(uint32_t slot, uint32_t best, int32_t d, CostOf costOf)
    {
        if (!(slot == 2 || slot == 4) || best <= 8) return d;
        int32_t step = slot == 2 ? -1 : 1;
        int32_t e = d;
        for (int n = 0; n < 5; n++) {
            e += step;
            if (e < -7 || e > 7) break;
            uint32_t cost = costOf(e);
            if (cost >= best) break;
            best = cost;
            d = e;
            if (c) c->refinements++;
            if (best < 8) break;
        }
        return d;
    }

    int32_t Left(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t block, int32_t d)
    {
        uint32_t x = 8 * block;
        uint32_t costs[8];
        for (auto& v : costs) v = 65535;
        const uint32_t slots[5] = {3, 2, 4, 6, 7};
        const int32_t tries[5] = {d, d - 1, d + 1, 0, -d};
        for (int i = 0; i < 5; i++) {
            if (c && Magnitude(tries[i]) == 8) c->edgeDirections++;
            uint32_t cost = Cost(a, b, x, tries[i], slots[i] == 7 ? 16 : 0, Clamped(tries[i]));
            costs[slots[i]] = cost;
            CachePut(block, tries[i], cost);
            if (cost < 8) {
                if (c) c->earlyStops++;
                break;
            }
        }
        uint32_t slot = Lowest(costs);
        int32_t start = d;
        d = Refine(slot, costs[slot], ByDirectionSlot(slot, d), [&](int32_t e) {
            uint32_t cost = Cost(a, b, x, e, 0, e);
            CachePut(block, e, cost);
            return cost;
        });
        int32_t i = CacheIndex(block, start);
        if (i >= 0 && i < (int32_t)cache.size()) cache[(size_t)i] |= 0x80;
        return d;
    }

    int32_t Right(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t block, int32_t d)
    {
        if (CacheAt(block, d) & 0x80) {
            if (c) c->markedKeeps++;
            return d;
        }
        uint32_t x = 8 * block;
        uint32_t costs[8];
        for (auto& v : costs) v = 65535;
        const uint32_t slots[5] = {3, 2, 4, 6, 7};
        const int32_t tries[5] = {d, d - 1, d + 1, 0, -d};
        for (int i = 0; i < 5; i++) {
            uint8_t held = CacheAt(block, tries[i]);
            if (held) {
                costs[slots[i]] = held;
                if (c) c->cachedCosts++;
                continue;
            }
            uint32_t cost = Cost(a, b, x, tries[i], slots[i] == 7 ? 16 : 0, tries[i]);
            costs[slots[i]] = cost;
            if (cost < 8) {
                if (c) c->earlyStops++;
                break;
            }
        }
        uint32_t slot = Lowest(costs);
        return Refine(slot, costs[slot], ByDirectionSlot(slot, d), [&](int32_t e) {
            uint8_t held = CacheAt(block, e);
            return held ? (uint32_t)held : Cost(a, b, x, e, 0, e);
        });
    }

    std::vector<int32_t> BlockDirections(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
    {
        blocks = (w + 7) / 8;
        cache.assign((size_t)blocks * 15, 0);
        std::vector<int32_t> left(blocks), right(blocks), out(blocks);
        int32_t d = 0;
        for (uint32_t k = 0; k < blocks; k++) left[k] = d = Left(a, b, k, d);
        d = 0;
        for (uint32_t k = blocks; k-- > 0;) right[k] = d = Right(a, b, k, d);
        for (uint32_t k = 0; k < blocks; k++) {
            int32_t L = left[k], R = right[k];
            out[k] = L > 0 && R > 0 ? (L < R ? L : R) : L < 0 && R < 0 ? (L > R ? L : R) : 0;
            if (c) {
                c->blocks += 2;
                if (out[k] > 0) c->positive++;
                if (out[k] < 0) c->negative++;
            }
        }
        return out;
    }
};

// A picture with motion and diagonal edges, in three strips: at the left
// a still texture where a few pixels change by 7 or 8 from one picture to
// the next; then a flickering strip whose change is large in the first
// pictures and then near the still thresholds, block by block; the rest
// bright bands at many slopes (both ways, shallow and steep) that move by
// `shift` pixels a picture, over a fine texture and a gradient.
inline TLumaPicture MovingEdges(uint32_t w, uint32_t h, int32_t shift, uint32_t n)
{
    TLumaPicture p;
    p.w = w;
    p.h = h;
    p.y.resize((size_t)w * h);
    const int32_t slopes[][2] = {{1, 1}, {-1, 1}, {3, 1},  {-5, 2}, {1, 3},  {-2, 1},
                                 {7, 2}, {7, 1},  {-7, 1}, {14, 1}, {-14, 1}};
    const uint32_t bands = sizeof slopes / sizeof slopes[0];
    const uint32_t stillEnd = 32, flickerEnd = 32 + 16 * ((w - 32) / 48);
    for (uint32_t r = 0; r < h; r++)
        for (uint32_t x = 0; x < w; x++) {
            uint32_t v = 40 + (x * 90) / w + (r * 40) / h + (x * 7919u + r * 104729u) % 9;
            if (x < stillEnd) {
                if ((x + r) % 11 == 0) v += 8 * (n & 1);
                else if ((x + 3 * r) % 13 == 0) v += 7 * (n & 1);
            } else if (x < flickerEnd) {
                // Tenths of the change a block's pixels make on average.
                uint32_t tenths = n <= 2 ? 240 : 50 + ((r / 16) * 7 + (x / 16) * 13 + n * 5) % 45;
                uint32_t amp = tenths / 10 + (((x / 2) * 7 + r * 3) % 10 < tenths % 10 ? 1 : 0);
                v += amp * ((x / 2 + r + n) & 1) + (x * 5 + r * 3 + n) % 2;
            } else {
                for (uint32_t k = 0; k < bands; k++) {
                    int32_t span = (int32_t)(w - flickerEnd);
                    int32_t pos =
                        (int32_t)(k * (uint32_t)span / bands) + shift + slopes[k][0] * (int32_t)r / slopes[k][1];
                    int32_t d = (int32_t)(x - flickerEnd) - (((pos % span) + span) % span);
                    if (d >= 0 && d < 5) v = 220 - 6 * (uint32_t)d;
                }
                v += (x * 31u + r * 17u + (uint32_t)shift * 13u) % 5;
            }
            p.y[(size_t)r * w + x] = (uint8_t)(v > 255 ? 255 : v);
        }
    return p;
}

} // namespace fieldrule
