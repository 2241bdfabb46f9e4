#include "book/Order.h"

#include "anchor/AnchorRecord.h"
#include "anchor/Anchorability.h"
#include "anchor/GeneralFunctions.h"
#include "support/MessageText.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <map>
#include <queue>
#include <unordered_map>

namespace crv::book {

using namespace crv::support;

namespace gf = GeneralFunctions;

namespace {

using TreeVisit = std::function<void(const ComPtr<LayoutElement>&, const std::string& group, size_t depth)>;

void WalkMembers(const ComPtr<LayoutElement>& e, const std::string& group, size_t depth, const TreeVisit& visit) {
    visit(e, group, depth);
    auto sequence = ComPtr<ElementSequence>::Query(e);
    auto indexed = sequence ? ComPtr<ElementGroup>() : ComPtr<ElementGroup>::Query(e);
    if (!sequence && !indexed) return;
    const std::string name = e->Name();
    const std::string inner = group.empty() ? name : group + " / " + name;
    if (sequence) {
        sequence->ResetMembers();
        for (ComPtr<LayoutElement> m = sequence->NextMember(); m; m = sequence->NextMember()) {
            WalkMembers(m, inner, depth + 1, visit);
        }
        return;
    }
    const int32_t n = indexed->MemberCount();
    for (int32_t i = 0; i < n; ++i) WalkMembers(indexed->Member(i), inner, depth + 1, visit);
}

void WalkTree(const ComPtr<ElementContainer>& layout, const TreeVisit& visit) {
    layout->Reset();
    for (ComPtr<LayoutElement> e = layout->Next(); e; e = layout->Next()) WalkMembers(e, "", 0, visit);
}

// Every element of the layout with the group that holds it, so that "moves" and "changes the
// extent of" can be told apart from the structure alone. Places are numbered in walk order, so
// the elements inside a group are the run of places right after it.
class LayoutTree {
public:
    explicit LayoutTree(const ComPtr<ElementContainer>& layout) {
        std::vector<size_t> open;  // the groups enclosing the element walked last, outermost first
        WalkTree(layout, [&](const ComPtr<LayoutElement>& e, const std::string&, size_t depth) {
            open.resize(depth);
            parent_.push_back(open.empty() ? kNone : open.back());
            open.push_back(nodes_.size());
            place_.try_emplace(Identity(e), nodes_.size());
            nodes_.push_back(e);
        });
        end_.resize(nodes_.size());
        for (size_t i = nodes_.size(); i-- > 0;) {
            end_[i] = std::max(end_[i], i + 1);
            if (parent_[i] != kNone) end_[parent_[i]] = std::max(end_[parent_[i]], end_[i]);
        }
    }
    // The first place the element is walked at.
    std::optional<size_t> IndexOf(const ComPtr<LayoutElement>& e) const {
        const auto it = place_.find(Identity(e));
        if (it == place_.end()) return std::nullopt;
        return it->second;
    }
    // True when `outer` is `inner` or one of the groups that hold it.
    bool Holds(size_t outer, size_t inner) const {
        for (size_t at = inner; at != kNone; at = parent_[at]) {
            if (at == outer) return true;
        }
        return false;
    }
    // `inner` and every group that holds it, innermost first.
    void ForEachHolder(size_t inner, const std::function<void(size_t)>& visit) const {
        for (size_t at = inner; at != kNone; at = parent_[at]) visit(at);
    }
    // One past the last place inside `outer`: it holds exactly the places outer to End(outer) - 1.
    size_t End(size_t outer) const { return end_[outer]; }
    std::string NameOf(size_t i) const { return nodes_[i]->Name(); }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<ComPtr<LayoutElement>> nodes_;
    std::vector<size_t> parent_;
    std::vector<size_t> end_;
    std::unordered_map<const void*, size_t> place_;
};

// The strongly connected parts of a graph given by each node's successors: for each node the
// number of its part. Iterative (Tarjan's), so a long chain does not exhaust the stack.
std::vector<size_t> StronglyConnected(const std::vector<std::vector<size_t>>& next) {
    const size_t n = next.size();
    constexpr size_t kUnseen = static_cast<size_t>(-1);
    std::vector<size_t> order(n, kUnseen), low(n, 0), part(n, kUnseen), edge(n, 0);
    std::vector<bool> open(n, false);
    std::vector<size_t> stack, path;
    size_t seen = 0, parts = 0;
    for (size_t root = 0; root < n; ++root) {
        if (order[root] != kUnseen) continue;
        auto enter = [&](size_t v) {
            order[v] = low[v] = seen++;
            stack.push_back(v);
            open[v] = true;
            path.push_back(v);
        };
        enter(root);
        while (!path.empty()) {
            const size_t v = path.back();
            if (edge[v] < next[v].size()) {
                const size_t w = next[v][edge[v]++];
                if (order[w] == kUnseen) {
                    enter(w);
                } else if (open[w]) {
                    low[v] = std::min(low[v], order[w]);
                }
                continue;
            }
            path.pop_back();
            if (!path.empty()) low[path.back()] = std::min(low[path.back()], low[v]);
            if (low[v] != order[v]) continue;
            for (size_t w = kUnseen; w != v;) {
                w = stack.back();
                stack.pop_back();
                open[w] = false;
                part[w] = parts;
            }
            ++parts;
        }
    }
    return part;
}

}  // namespace

ComPtr<LayoutElement> TargetOf(const ComPtr<LayoutElement>& element, const ElementNames& targets) {
    const ComPtr<PropertyBag> record = AnchorRecordOf(element);
    if (!record) return {};
    try {
        if (CStr(record->GetProperty(key::AnchorType)) != kAnchorTypeNamedElement) return {};
        const std::string name = CStr(record->GetProperty(key::ElementName));
        if (name == kNone) return {};
        return targets.Find(name);
    } catch (const ComError&) {
        return {};
    }
}

std::string WhyNotAnchored(const ComPtr<LayoutElement>& element, const ElementNames& targets) {
    const ComPtr<PropertyBag> record = AnchorRecordOf(element);
    if (!record) return "";
    AnchorRecord r;
    Anchorability a;
    try {
        r.Read(record, Without(kEveryKey, {key::Version}));
        a = CheckAnchorability(r, {{}, [&](const std::string& name) { return targets.Find(name); }});
    } catch (const ComError&) {
        return "a value of its record does not convert to its key's kind";
    }
    switch (a.why) {
        case NotAnchored::None: return "";
        case NotAnchored::SwitchedOff: return "its record is switched off (AnchorElement is false)";
        case NotAnchored::UnknownAnchorType:
            return "its AnchorType " + QuotedValue(r.AnchorType) + " is neither \"Layout\" nor \"NamedElement\"";
        case NotAnchored::NoTargetNamed:
            return "it is to be anchored to another element but names none (ElementName is \"<None>\")";
        case NotAnchored::TargetMissing: return "its target " + QuotedValue(r.ElementName) + " is not in the layout";
        case NotAnchored::TargetWithoutSeries:
            return "its distances come from fields, but its target " + QuotedValue(r.ElementName) +
                   " is not a map frame with an enabled map series";
    }
    return "";
}

ComPtr<PropertyBag> AnchorRecordOf(const ComPtr<LayoutElement>& e) {
    auto outer = e->CustomProperty().ObjectAs<PropertyBag>();
    if (!outer) return {};
    auto family = outer->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
    if (!family) return {};
    return family->GetProperty(kAnchorProperties).ObjectAs<PropertyBag>();
}

void WalkLayout(const ComPtr<ElementContainer>& layout,
                const std::function<void(const ComPtr<LayoutElement>&, const std::string& group)>& visit) {
    WalkTree(layout, [&](const ComPtr<LayoutElement>& e, const std::string& group, size_t) { visit(e, group); });
}

int PriorityRank(int16_t code) {
    switch (code) {
        case kPriorityHigh: return 0;
        case kPriorityMedium: return 1;
        case kPriorityLow: return 2;
        default: return 3;
    }
}

AnchorDependencies OrderByDependency(const ComPtr<ElementContainer>& layout,
                                     const std::vector<ComPtr<LayoutElement>>& elements) {
    const size_t n = elements.size();
    const LayoutTree tree(layout);
    const ElementNames targets(layout);
    std::vector<std::optional<size_t>> node(n), target(n);
    for (size_t i = 0; i < n; ++i) {
        node[i] = tree.IndexOf(elements[i]);
        if (const ComPtr<LayoutElement> t = TargetOf(elements[i], targets)) target[i] = tree.IndexOf(t);
    }
    // depends[i], ascending: the elements whose placement moves i's target or changes its
    // extent (those standing at the target or a group holding it, or inside the target), and
    // the groups holding i, whose placement would carry i off the place it was given. Found
    // through the tree, so each element costs what it depends on, not a test of every other.
    std::vector<std::pair<size_t, size_t>> standing;  // (place in the tree, element), sorted
    for (size_t i = 0; i < n; ++i) {
        if (node[i]) standing.emplace_back(*node[i], i);
    }
    std::sort(standing.begin(), standing.end());
    // The elements standing at places first to last - 1 of the tree, `skip` left out.
    auto standingIn = [&](size_t first, size_t last, size_t skip, std::vector<size_t>& into) {
        auto at = std::lower_bound(standing.begin(), standing.end(), std::pair{first, size_t{0}});
        for (; at != standing.end() && at->first < last; ++at) {
            if (at->second != skip) into.push_back(at->second);
        }
    };
    auto throughTarget = [&](size_t i, size_t j) {
        return target[i] && node[j] && (tree.Holds(*node[j], *target[i]) || tree.Holds(*target[i], *node[j]));
    };
    std::vector<std::vector<size_t>> depends(n);
    for (size_t i = 0; i < n; ++i) {
        std::vector<size_t>& d = depends[i];
        if (target[i]) {
            tree.ForEachHolder(*target[i], [&](size_t g) { standingIn(g, g + 1, n, d); });
            standingIn(*target[i], tree.End(*target[i]), n, d);
        }
        if (node[i]) tree.ForEachHolder(*node[i], [&](size_t g) { standingIn(g, g + 1, i, d); });
        std::sort(d.begin(), d.end());
        d.erase(std::unique(d.begin(), d.end()), d.end());
    }

    AnchorDependencies out;
    out.cycle.resize(n);
    out.same_cycle_as.resize(n);
    std::map<std::vector<size_t>, size_t> rings;  // each ring found, and the first element found in it
    // Only an element of a strongly connected part of the dependencies (or one depending on
    // itself) lies on a cycle, and the way back to it never leaves that part: the search for
    // each cycle stays inside it.
    const std::vector<size_t> part = StronglyConnected(depends);
    std::vector<size_t> partSize(n, 0);
    for (size_t i = 0; i < n; ++i) ++partSize[part[i]];
    std::vector<size_t> from(n, n);
    // The shortest way back to i, if any, by a breadth-first walk of the dependencies.
    for (size_t i = 0; i < n; ++i) {
        if (partSize[part[i]] == 1 && !std::binary_search(depends[i].begin(), depends[i].end(), i)) continue;
        std::vector<size_t> queue{i};
        bool closed = false;
        size_t last = i;
        for (size_t q = 0; q < queue.size() && !closed; ++q) {
            for (size_t j : depends[queue[q]]) {
                if (j == i) {
                    closed = true;
                    last = queue[q];
                    break;
                }
                if (part[j] != part[i] || from[j] != n) continue;
                from[j] = queue[q];
                queue.push_back(j);
            }
        }
        std::vector<size_t> ring;  // i, then what i depends on, and so on round to i
        if (closed) {
            for (size_t at = last; at != i; at = from[at]) ring.push_back(at);
            ring.push_back(i);
        }
        for (size_t q : queue) from[q] = n;
        if (!closed) continue;
        std::reverse(ring.begin(), ring.end());
        std::rotate(ring.begin(), std::min_element(ring.begin(), ring.end()), ring.end());
        const auto [known, added] = rings.try_emplace(ring, i);
        out.same_cycle_as[i] = added ? i : known->second;
        if (!added) {
            out.cycle[i] = out.cycle[known->second];
            continue;
        }
        // Each step arrives at the next element of the ring: straight to the target, or through
        // it to the group that moves it or the member that sizes it; or from a member to the
        // group that carries it.
        std::vector<std::string> steps;
        for (size_t k = 0; k < ring.size(); ++k) {
            const size_t nextIndex = ring[(k + 1) % ring.size()];
            const size_t next = *node[nextIndex];
            const std::string name = QuotedValue(tree.NameOf(next));
            if (!throughTarget(ring[k], nextIndex)) {
                steps.push_back(" → its group " + name);
                continue;
            }
            const size_t t = *target[ring[k]];
            if (t == next) {
                steps.push_back(" → " + name);
            } else {
                steps.push_back(" → " + QuotedValue(tree.NameOf(t)) +
                                (tree.Holds(next, t) ? " → its group " : " → its member ") + name);
            }
        }
        // A long cycle is shown by its ends: its first elements, then its last ones back to the first.
        constexpr size_t kLongest = 30, kHead = 10, kTail = 2;
        std::string text = QuotedValue(elements[ring.front()]->Name());
        const size_t size = ring.size();
        for (size_t k = 0; k < size; ++k) {
            if (size > kLongest && k == kHead - 1) {
                text += " → …";
                k = size - kTail - 2;
                continue;
            }
            text += steps[k];
        }
        if (size > kLongest) text += " (" + std::to_string(size) + " elements)";
        out.cycle[i] = text;
    }

    // Each time the first element in the order given whose dependencies are all placed: the
    // elements ready to be placed wait in a queue that hands out the first of them.
    std::vector<bool> placed(n, false);
    for (size_t i = 0; i < n; ++i) placed[i] = !out.cycle[i].empty();  // stays where it stands
    std::vector<size_t> waitingFor(n, 0);
    std::vector<std::vector<size_t>> dependents(n);
    for (size_t i = 0; i < n; ++i) {
        if (placed[i]) continue;
        for (size_t j : depends[i]) {
            if (placed[j]) continue;
            ++waitingFor[i];
            dependents[j].push_back(i);
        }
    }
    std::priority_queue<size_t, std::vector<size_t>, std::greater<>> ready;
    for (size_t i = 0; i < n; ++i) {
        if (!placed[i] && waitingFor[i] == 0) ready.push(i);
    }
    while (!ready.empty()) {
        const size_t i = ready.top();
        ready.pop();
        placed[i] = true;
        out.order.push_back(i);
        for (size_t k : dependents[i]) {
            if (--waitingFor[k] == 0) ready.push(k);
        }
    }
    return out;
}

ElementNames::ElementNames(const ComPtr<ElementContainer>& layout) {
    try {
        gf::WalkElementNames(layout, gf::GroupMembers::WalkedOrIndexed,
                             [&](const ComPtr<LayoutElement>& e, const std::string& n) {
                                 first_.try_emplace(n, e);
                                 return false;
                             });
    } catch (const ComError&) {
        failure_ = std::current_exception();
    }
}

ComPtr<LayoutElement> ElementNames::Find(const std::string& name) const {
    const auto it = first_.find(name);
    if (it != first_.end()) return it->second;
    if (failure_) std::rethrow_exception(failure_);
    return {};
}

namespace {

// The elements a book of the layout would select, from the records alone, in priority order,
// with their dependencies.
std::pair<std::vector<ComPtr<LayoutElement>>, AnchorDependencies> RecordDependencies(
    const ComPtr<ElementContainer>& layout) {
    struct Candidate {
        ComPtr<LayoutElement> element;
        int rank;
    };
    // Collected first: telling whether an element can be anchored walks the layout again.
    std::vector<ComPtr<LayoutElement>> all;
    WalkLayout(layout, [&](const ComPtr<LayoutElement>& e, const std::string&) { all.push_back(e); });
    const ElementNames targets(layout);
    std::vector<Candidate> candidates;
    for (const ComPtr<LayoutElement>& e : all) {
        const ComPtr<PropertyBag> record = AnchorRecordOf(e);
        if (!record || !WhyNotAnchored(e, targets).empty()) continue;
        try {
            if (!CBool(record->GetProperty(key::AnchorElement))) continue;
            candidates.push_back({e, PriorityRank(CInt(record->GetProperty(key::AnchorPriority)))});
        } catch (const ComError&) {}
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });
    std::vector<ComPtr<LayoutElement>> elements;
    for (const auto& c : candidates) elements.push_back(c.element);
    AnchorDependencies dependencies = OrderByDependency(layout, elements);
    return {std::move(elements), std::move(dependencies)};
}

}  // namespace

std::vector<std::pair<ComPtr<LayoutElement>, std::string>> AnchorCycles(const ComPtr<ElementContainer>& layout) {
    const auto [elements, dependencies] = RecordDependencies(layout);
    std::vector<std::pair<ComPtr<LayoutElement>, std::string>> out;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (!dependencies.cycle[i].empty()) out.emplace_back(elements[i], dependencies.cycle[i]);
    }
    return out;
}

std::vector<std::string> CycleLines(const ComPtr<ElementContainer>& layout) {
    const auto [elements, dependencies] = RecordDependencies(layout);
    std::vector<std::string> out;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (dependencies.cycle[i].empty()) continue;
        const size_t first = dependencies.same_cycle_as[i];
        out.push_back(first == i ? CycleLine(elements[i]->Name(), dependencies.cycle[i])
                                 : QuotedValue(elements[i]->Name()) + " is in the same cycle of anchors as " +
                                       QuotedValue(elements[first]->Name()));
    }
    return out;
}

std::string CycleLine(const std::string& name, const std::string& cycle) {
    return QuotedValue(name) + " is in a cycle of anchors: " + cycle;
}

}  // namespace crv::book
