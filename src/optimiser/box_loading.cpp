// Filling one box block by block.
#include "optimiser/box_loading.hpp"

#include <algorithm>
#include <limits>

#include "model/packing_rules.hpp"

namespace stowvex::optimiser {

namespace {

constexpr double kHuge = std::numeric_limits<double>::infinity();
// The work of a block's fitness (three searches of reachable lengths), in
// the units of one block looked at.
constexpr std::uint64_t kFitnessWork = 8;

}  // namespace

BoxLoading::BoxLoading(const BoxProblem& problem)
    : problem_(&problem), spaces_(problem.size), remaining_(problem.offered) {
    for (const int n : remaining_) unplaced_ += n;
    update_smallest();
}

bool BoxLoading::useful(const Cuboid& space) const {
    const Vec3 room{space.extent(0), space.extent(1), space.extent(2)};
    if (room[0] < smallest_[0] || room[1] < smallest_[1] || room[2] < smallest_[2]) return false;
    if (room[0] * room[1] * room[2] < smallest_volume_) return false;
    // Sizes tried, two to a unit.
    std::uint64_t tried = 0;
    for (const KindSize& s : problem_->sizes) {
        ++tried;
        if (s.size[0] <= room[0] && s.size[1] <= room[1] && s.size[2] <= room[2] &&
            remaining_[s.kind] > 0) {
            work_ += tried / 2 + 1;
            return true;
        }
    }
    work_ += tried / 2 + 1;
    return false;
}

void BoxLoading::update_smallest() {
    smallest_ = {kHuge, kHuge, kHuge};
    smallest_volume_ = kHuge;
    const auto& kinds = problem_->kinds.kinds;
    work_ += kinds.size();
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        if (remaining_[k] <= 0) continue;
        for (int a = 0; a < 3; ++a)
            smallest_[a] = std::min(smallest_[a], kinds[k].smallest_extent[a]);
        smallest_volume_ = std::min(smallest_volume_, kinds[k].volume);
    }
    spaces_.keep_useful([this](const Cuboid& space) { return useful(space); });
}

std::size_t BoxLoading::nearest_corner_space(std::array<bool, 3>& far_side) const {
    // The distance of a space to the nearest box corner: the sum of its three
    // axis distances, then the smallest and the middle one; then the larger
    // space first. Blocks may hang from the ceiling only when no support is
    // asked for; under a support rule the load grows from the floor up: the
    // height comes first, then the two floor distances in ascending order.
    const auto& spaces = spaces_.spaces();
    const Vec3& box = problem_->size;
    const bool heaped = problem_->heaped;
    // Loads hung from the ceiling lie above all that goes in under them:
    // under max loads and stops the load grows from the floor.
    const bool ceiling =
        problem_->min_support <= 0.0 && !heaped && !problem_->loads && !problem_->stops;
    const bool from_back = problem_->stops;
    std::size_t best = spaces.size();
    std::array<double, 3> best_key{};
    double best_volume = 0.0;
    for (std::size_t i = 0; i < spaces.size(); ++i) {
        if (spaces_.waiting(i)) continue;
        const Cuboid& s = spaces[i];
        std::array<bool, 3> far{};
        std::array<double, 3> key{};
        for (int a = 0; a < 3; ++a) {
            const double near_gap = s.low[a];
            const double far_gap = box[a] - s.high[a];
            far[a] = (a < 2 || ceiling) && far_gap < near_gap && !heaped && !(a == 1 && from_back);
            key[a] = far[a] ? far_gap : near_gap;
        }
        if (from_back) {
            // The distance from the back wall first, then the height, then
            // the distance from a side wall.
            key = {key[1], key[2], key[0]};
        } else if (ceiling) {
            std::sort(key.begin(), key.end());
            key = {key[0] + key[1] + key[2], key[0], key[1]};
        } else {
            std::sort(key.begin(), key.begin() + 2);
            std::rotate(key.begin(), key.begin() + 2, key.end());
        }
        const double volume = s.volume();
        if (best == spaces.size() || key < best_key || (key == best_key && volume > best_volume)) {
            best = i;
            best_key = key;
            best_volume = volume;
            far_side = far;
        }
    }
    return best;
}

bool BoxLoading::next_candidates(std::size_t limit, std::vector<BlockPlacement>& out) {
    out.clear();
    while (true) {
        std::array<bool, 3> far_side{};
        const std::size_t space = nearest_corner_space(far_side);
        work_ += spaces_.spaces().size();
        if (space == spaces_.spaces().size()) return false;
        // Under stops the latest stop offered goes in first; the others only
        // where it fits nowhere.
        const int from_stop = problem_->stops ? latest_stop() : 0;
        bool lacks_support = collect(space, far_side, limit, from_stop, out);
        if (out.empty() && from_stop > 0) {
            lacks_support = collect(space, far_side, limit, 0, out) || lacks_support;
        }
        if (!out.empty()) return true;
        if (lacks_support) {
            spaces_.wait(space);
        } else {
            spaces_.erase(space);
        }
    }
}

bool BoxLoading::available(const ItemBlock& block) const {
    if (!block.general()) return remaining_[block.kind] >= block.item_count;
    const BlockCatalogue& catalogue = problem_->catalogue;
    for (const auto* u = catalogue.uses_begin(block); u != catalogue.uses_end(block); ++u) {
        if (remaining_[u->first] < u->second) return false;
    }
    return true;
}

bool BoxLoading::fits_weight(const ItemBlock& block) const {
    const WeightLimit& limit = problem_->weight;
    if (!limit.limited()) return true;
    // Summed item by item, as the packed box sums its weight: the items of a
    // general block in the order laid_items lists them.
    double weight = item_weight_;
    bool admitted = true;
    problem_->catalogue.for_each_simple(block, [&](const ItemBlock& part) {
        const double each = problem_->kinds.kinds[part.kind].weight;
        admitted = admitted && limit.admits(each);
        for (int n = 0; n < part.item_count; ++n) weight = weight + each;
    });
    return admitted && limit.allows(weight);
}

bool BoxLoading::supported(const ItemBlock& block, const Vec3& corner) const {
    if (block.general()) {
        // Its bottom parts rest on what lies below; the parts above them rest
        // on flat tops within the block, which the catalogue saw to.
        bool held = true;
        problem_->catalogue.for_each_simple(
            block, corner, [&](const ItemBlock& part, const Vec3& at) {
                held = held && (at[2] != corner[2] || supported(part, at));
            });
        return held;
    }
    const double ratio = problem_->min_support;
    // All bottom items together first: too little support for them all
    // means too little for one of them.
    const Vec3 far = far_corner(block, corner);
    const double base = block.item_size[0] * block.item_size[1];
    const Cuboid footprint{corner, {far[0], far[1], corner[2]}};
    if (!enough_support(tops_.supported_area(footprint),
                        static_cast<double>(block.count[0]) * block.count[1] * base, ratio)) {
        return false;
    }
    std::vector<double> xs;
    std::vector<double> ys;
    item_positions(block, 0, corner[0], xs);
    item_positions(block, 1, corner[1], ys);
    for (int i = 0; i < block.count[0]; ++i) {
        for (int j = 0; j < block.count[1]; ++j) {
            const Cuboid item{{xs[i], ys[j], corner[2]}, {xs[i + 1], ys[j + 1], corner[2]}};
            if (!enough_support(tops_.supported_area(item), base, ratio)) return false;
        }
    }
    return true;
}

double BoxLoading::fitness(const ItemBlock& block, const Vec3& room) const {
    // The block's volume less the room it leaves that no row of items can
    // fill: along each axis the leftover beyond the longest row that fits.
    double reach = 1.0;
    for (int a = 0; a < 3; ++a) {
        reach *= block.size[a] + problem_->reachable[a].largest_within(room[a] - block.size[a]);
    }
    double lost = room[0] * room[1] * room[2] - reach;
    // The gaps inside a general block are lost as well.
    if (block.general()) lost += block.size[0] * block.size[1] * block.size[2] - block.volume;
    if (problem_->loads && !block.general() && problem_->kinds.kinds[block.kind].max_load == 0.0) {
        // Nothing goes on a fragile block: the room above it is lost too.
        lost += block.size[0] * block.size[1] * (room[2] - block.size[2]);
    }
    return block.volume - (lost > 0.0 ? lost : 0.0);
}

bool BoxLoading::lay_within(const Cuboid& space, const std::array<bool, 3>& far_side,
                            std::uint32_t block, BlockPlacement& out) const {
    const ItemBlock& b = problem_->catalogue[block];
    out.block = block;
    for (int a = 0; a < 3; ++a)
        out.corner[a] = far_side[a] ? space.high[a] - b.size[a] : space.low[a];
    out.far = problem_->catalogue.far_corner(b, out.corner);
    bool inside = true;
    for (int a = 0; a < 3; ++a) {
        inside = inside && out.corner[a] >= space.low[a] && out.far[a] <= space.high[a];
    }
    if (inside) return true;
    // Rounding pushed a block laid from the far side over an edge: lay it
    // from the near side instead.
    out.corner = space.low;
    out.far = problem_->catalogue.far_corner(b, out.corner);
    return out.far[0] <= space.high[0] && out.far[1] <= space.high[1] &&
           out.far[2] <= space.high[2];
}

int BoxLoading::latest_stop() const {
    int latest = 0;
    const auto& kinds = problem_->kinds.kinds;
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        if (remaining_[k] > 0) latest = std::max(latest, kinds[k].stop);
    }
    return latest;
}

bool BoxLoading::keeps_rules(const ItemBlock& block, const Vec3& corner) {
    const BoxProblem& problem = *problem_;
    const ItemKind& kind = problem.kinds.kinds[block.kind];
    const int nx = block.count[0];
    const int ny = block.count[1];
    const int nz = block.count[2];
    const bool own_limit = problem.loads && kind.max_load != kNoLoadLimit;
    if (own_limit && nz > 1) {
        // The bottom item of a column carries the items of the block above it.
        Load own;
        own.add(kind.weight, nz - 1);
        if (!bearable(own, kind.max_load)) return false;
    }
    for (int a = 0; a < 3; ++a) item_positions(block, a, corner[a], grid_[a]);
    const std::vector<double>& xs = grid_[0];
    const std::vector<double>& ys = grid_[1];
    const std::vector<double>& zs = grid_[2];
    const Cuboid whole{corner, {xs[nx], ys[ny], zs[nz]}};
    if (own_limit) column_loads_.assign(static_cast<std::size_t>(nx) * ny, Load{});
    work_ += resting_.size();
    // The columns of the block whose footprints meet a placed item's, by
    // index of the column.
    const auto for_columns = [&](const Cuboid& c, auto&& each) {
        for (int i = 0; i < nx; ++i) {
            if (!(xs[i] < c.high[0] && c.low[0] < xs[i + 1])) continue;
            for (int j = 0; j < ny; ++j) {
                if (ys[j] < c.high[1] && c.low[1] < ys[j + 1]) {
                    each(static_cast<std::size_t>(i) * ny + j);
                }
            }
        }
    };
    // What one placed item forbids alone: a clash of stops with the block,
    // or more load on it than it may carry.
    const auto forbids = [&](const Resting& r) {
        const Cuboid& c = r.item.cuboid;
        const bool overlapping = footprint_overlap(whole, c) > 0.0;
        if (problem.stops && kind.stop != 0 && r.item.stop != 0 && kind.stop != r.item.stop) {
            // Some item of the block clashes with the placed one when one of
            // two slabs of its items does: of a later stop its top layer and
            // its row nearest the door, of an earlier one its bottom layer
            // and its back row.
            const bool later = kind.stop > r.item.stop;
            RuledItem layer{whole, kind.weight, kind.max_load, kind.stop};
            RuledItem row = layer;
            if (later) {
                layer.cuboid.low[2] = zs[nz - 1];
                row.cuboid.low[1] = ys[ny - 1];
            } else {
                layer.cuboid.high[2] = zs[1];
                row.cuboid.high[1] = ys[1];
            }
            if (stops_clash(layer, r.item) || stops_clash(row, r.item)) return true;
        }
        if (!problem.loads || !overlapping || r.item.max_load == kNoLoadLimit) return false;
        if (!(c.high[2] <= corner[2])) return false;  // above the block
        long long columns = 0;
        for_columns(c, [&](std::size_t) { ++columns; });
        Load load = r.load;
        load.add(kind.weight, nz * columns);
        return !bearable(load, r.item.max_load);
    };
    // The item that forbade the last block is the likeliest to forbid this one.
    if (last_conflict_ < resting_.size() && forbids(resting_[last_conflict_])) return false;
    for (std::size_t n = 0; n < resting_.size(); ++n) {
        const Resting& r = resting_[n];
        if (forbids(r)) {
            last_conflict_ = n;
            return false;
        }
        // The placed item lies wholly below the block or wholly above it.
        const Cuboid& c = r.item.cuboid;
        if (!own_limit || c.high[2] <= corner[2] || !(footprint_overlap(whole, c) > 0.0)) continue;
        for_columns(c, [&](std::size_t column) { column_loads_[column].add(r.item.weight, 1); });
    }
    if (own_limit) {
        for (Load load : column_loads_) {
            load.add(kind.weight, nz - 1);
            if (!bearable(load, kind.max_load)) return false;
        }
    }
    return true;
}

bool BoxLoading::collect(std::size_t index, const std::array<bool, 3>& far_side, std::size_t limit,
                         int from_stop, std::vector<BlockPlacement>& out) {
    bool lacks_support = false;
    const Cuboid space = spaces_.spaces()[index];
    const BlockCatalogue& catalogue = problem_->catalogue;
    const bool check_support = problem_->min_support > 0.0;
    const bool check_rules = problem_->loads || problem_->stops;
    const Vec3 room{space.extent(0), space.extent(1), space.extent(2)};
    // `out` is kept fittest first. A block's fitness is at most its volume,
    // so once the volumes fall below the last fitness kept nothing can enter.
    std::vector<double>& scores = scores_;
    scores.clear();
    for (std::size_t r = catalogue.first_rank_within(space.volume()); r < catalogue.size(); ++r) {
        ++work_;
        const ItemBlock& b = catalogue[r];
        if (out.size() >= limit && b.volume <= scores.back()) break;
        if (b.size[0] > room[0] || b.size[1] > room[1] || b.size[2] > room[2]) continue;
        if (!available(b)) continue;
        // General blocks are made only where no item has a max load or a stop.
        if (b.general() && check_rules) continue;
        const int stop = b.general() ? 0 : problem_->kinds.kinds[b.kind].stop;
        if (stop != 0 && stop < from_stop) continue;
        work_ += kFitnessWork;
        const double score = fitness(b, room);
        if (out.size() >= limit && score <= scores.back()) continue;
        if (!fits_weight(b)) continue;
        // The corner of the space nearest the box corner first; where
        // support is asked for and lacking there, or a loading rule is
        // broken, the other floor corners.
        const int tries = (check_support && space.low[2] != 0.0) || check_rules ? 4 : 1;
        for (int t = 0; t < tries; ++t) {
            const std::array<bool, 3> side{far_side[0] != ((t & 1) != 0),
                                           far_side[1] != ((t & 2) != 0), far_side[2]};
            BlockPlacement p{};
            ++work_;
            if (!lay_within(space, side, static_cast<std::uint32_t>(r), p)) continue;
            if (check_support && p.corner[2] != 0.0) {
                // Each base tried against the faces at its height.
                const int cells = b.general() ? b.item_count : b.count[0] * b.count[1];
                work_ += (1 + tops_.count_at(p.corner[2])) * (1 + static_cast<std::size_t>(cells));
                if (!supported(b, p.corner)) {
                    lacks_support = true;
                    continue;
                }
            }
            if (check_rules && !keeps_rules(b, p.corner)) continue;
            // After every placement at least as fit.
            std::size_t at = scores.size();
            while (at > 0 && scores[at - 1] < score) --at;
            scores.insert(scores.begin() + static_cast<std::ptrdiff_t>(at), score);
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), p);
            if (out.size() > limit) {
                out.pop_back();
                scores.pop_back();
            }
            break;
        }
    }
    return lacks_support;
}

void BoxLoading::place(const BlockPlacement& placement) {
    const BlockCatalogue& catalogue = problem_->catalogue;
    const ItemBlock& b = catalogue[placement.block];
    bool used_up = false;
    catalogue.for_each_simple(b, [&](const ItemBlock& part) {
        remaining_[part.kind] -= part.item_count;
        used_up = used_up || remaining_[part.kind] == 0;
        value_ += problem_->value[part.kind] * part.item_count;
        const double each = problem_->kinds.kinds[part.kind].weight;
        for (int n = 0; n < part.item_count; ++n) item_weight_ = item_weight_ + each;
    });
    unplaced_ -= b.item_count;
    volume_ += b.volume;
    work_ += 1 + static_cast<std::uint64_t>(b.item_count);
    placements_.push_back(placement);
    const Cuboid taken{placement.corner, placement.far};
    spaces_.occupy(taken, [this](const Cuboid& space) { return useful(space); });
    if (used_up) update_smallest();
    if (problem_->loads || problem_->stops) rest(b, taken);
    if (problem_->min_support > 0.0) {
        // The tops of the block's parts support what comes above; spaces
        // waiting for support there may take blocks now.
        catalogue.for_each_simple(b, placement.corner, [&](const ItemBlock& part, const Vec3& at) {
            const Vec3 far = catalogue.far_corner(part, at);
            const Cuboid top{{at[0], at[1], far[2]}, far};
            tops_.add(top);
            spaces_.wake([&](const Cuboid& space) {
                return space.low[2] == top.high[2] && footprint_overlap(top, space) > 0.0;
            });
        });
    }
}

void BoxLoading::rest(const ItemBlock& block, const Cuboid& taken) {
    const ItemKind& kind = problem_->kinds.kinds[block.kind];
    const int nx = block.count[0];
    const int ny = block.count[1];
    const int nz = block.count[2];
    for (int a = 0; a < 3; ++a) item_positions(block, a, taken.low[a], grid_[a]);
    const std::vector<double>& xs = grid_[0];
    const std::vector<double>& ys = grid_[1];
    const std::vector<double>& zs = grid_[2];
    column_loads_.assign(static_cast<std::size_t>(nx) * ny, Load{});
    work_ += resting_.size() + static_cast<std::uint64_t>(block.item_count);
    for (Resting& r : resting_) {
        const Cuboid& c = r.item.cuboid;
        if (!problem_->loads || !(footprint_overlap(taken, c) > 0.0)) continue;
        const bool below = c.high[2] <= taken.low[2];
        long long columns = 0;
        for (int i = 0; i < nx; ++i) {
            if (!(xs[i] < c.high[0] && c.low[0] < xs[i + 1])) continue;
            for (int j = 0; j < ny; ++j) {
                if (!(ys[j] < c.high[1] && c.low[1] < ys[j + 1])) continue;
                if (below) {
                    ++columns;
                } else {
                    column_loads_[static_cast<std::size_t>(i) * ny + j].add(r.item.weight, 1);
                }
            }
        }
        if (below) r.load.add(kind.weight, nz * columns);
    }
    for (int l = 0; l < nz; ++l) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                Resting r;
                r.item.cuboid = {{xs[i], ys[j], zs[l]}, {xs[i + 1], ys[j + 1], zs[l + 1]}};
                r.item.weight = kind.weight;
                r.item.max_load = kind.max_load;
                r.item.stop = kind.stop;
                r.load = column_loads_[static_cast<std::size_t>(i) * ny + j];
                r.load.add(kind.weight, nz - 1 - l);
                resting_.push_back(r);
            }
        }
    }
}

bool BoxLoading::complete(const WorkBudget& budget) {
    std::vector<BlockPlacement> best;
    while (next_candidates(1, best)) {
        place(best.front());
        // A step may look through thousands of blocks: the clock is read
        // after each.
        if (budget.out_of_time()) return false;
    }
    return true;
}

double BoxLoading::value() const {
    const KindTable& table = problem_->kinds;
    if (!table.has_groups()) return value_;
    double value = value_;
    for (const std::vector<int>& group : table.group_kinds) {
        int placed = 0;
        int offered = 0;
        double group_value = 0.0;
        for (const int k : group) {
            const int in_box = problem_->offered[k] - remaining_[k];
            placed += in_box;
            offered += problem_->offered[k];
            group_value += problem_->value[k] * in_box;
        }
        if (splits_group(static_cast<std::size_t>(placed), static_cast<std::size_t>(offered))) {
            value -= group_value;
        }
    }
    return value;
}

std::vector<LaidItem> BoxLoading::laid_items() const {
    std::vector<LaidItem> items;
    std::array<std::vector<double>, 3> at;
    const BlockCatalogue& catalogue = problem_->catalogue;
    for (const BlockPlacement& placement : placements_) {
        catalogue.for_each_simple(
            catalogue[placement.block], placement.corner,
            [&](const ItemBlock& b, const Vec3& corner) {
                for (int a = 0; a < 3; ++a) item_positions(b, a, corner[a], at[a]);
                for (int l = 0; l < b.count[2]; ++l) {
                    for (int j = 0; j < b.count[1]; ++j) {
                        for (int i = 0; i < b.count[0]; ++i) {
                            items.push_back(
                                {b.kind, b.orientation, {at[0][i], at[1][j], at[2][l]}});
                        }
                    }
                }
            });
    }
    return items;
}

}  // namespace stowvex::optimiser
