#include "containers/walk.h"

#include <algorithm>
#include <new>

#include "containers/formats.h"

namespace containers {

namespace {

// What all the members of one walk may claim together: this many times the
// top container's size, or this floor.  Decoders never give more than a
// member claims, so this caps every decompression of the walk, containers
// that hold copies of themselves included.
constexpr uint64_t kMostExpansion = 1100;
constexpr uint64_t kFloor = uint64_t{1} << 30;

std::string joined(const std::string &shown, const std::vector<std::string> &path) {
    std::string s = shown;
    for (const std::string &p : path) s += (s.empty() ? "" : "/") + p;
    return s;
}

}  // namespace

struct Walker::Frame {
    std::unique_ptr<Container> container;
    const Format *format;
    std::vector<std::string> path;  // of the container, for its members' output paths
    std::string shown;              // of the container, for messages
    size_t given = 0;               // members listed so far
};

struct Walker::Inner {
    std::shared_ptr<const Source> source;
    std::shared_ptr<const Source> resource;  // an NDIF image's chunk table lies there
    const Format *format;
    std::vector<std::string> path;
    std::string shown;
};

Walker::Walker(std::shared_ptr<const Source> source, const Format &format, bool list_containers,
               std::shared_ptr<const Source> resource)
    : list_containers_(list_containers), budget_(std::max(kFloor, kMostExpansion * source->size())) {
    Leaf failure;
    if (!open([&] { return opened(format, source, resource); }, format, {}, "", failure))
        pending_ = std::make_unique<Leaf>(std::move(failure));
}

Walker::~Walker() = default;

bool Walker::open(const std::function<std::unique_ptr<Container>()> &make, const Format &format,
                  std::vector<std::string> path, std::string shown, Leaf &failure) {
    try {
        auto container = make();
        ++opened_;
        stack_.push_back(std::make_unique<Frame>(Frame{std::move(container), &format, std::move(path), std::move(shown)}));
        return true;
    } catch (const Error &e) {
        failure = Leaf{std::move(path), std::move(shown), Member{}, nullptr, format.name};
        failure.member.problem = std::string("cannot open this ") + format.name + ": " + e.what();
        return false;
    }
}

Leaf Walker::failure(const Frame &frame, const std::string &why) const {
    Leaf leaf{frame.path, frame.shown, Member{}, nullptr, frame.format->name};
    leaf.damaged = frame.given > 0;
    leaf.member.problem = std::string("damaged ") + frame.format->name + ": " + why +
                          (leaf.damaged ? "; what lay past the damage is missing" : "; nothing in it could be read");
    return leaf;
}

bool Walker::next(Leaf &leaf) {
    if (pending_) {
        leaf = std::move(*pending_);
        pending_.reset();
        return true;
    }
    if (inner_) {
        const std::unique_ptr<Inner> inner = std::move(inner_);
        if (!open([&] { return opened(*inner->format, inner->source, inner->resource); }, *inner->format, inner->path,
                  inner->shown, leaf))
            return true;
    }
    while (!stack_.empty()) {
        Frame &frame = *stack_.back();
        Member member;
        try {
            if (!frame.container->next(member)) {
                stack_.pop_back();
                continue;
            }
        } catch (const Error &e) {
            leaf = failure(frame, e.what());
            stack_.pop_back();
            return true;
        }
        ++frame.given;
        std::vector<std::string> path = frame.path;
        if (!is_wrapper(*frame.format)) path.insert(path.end(), member.path.begin(), member.path.end());
        leaf = Leaf{std::move(path), joined(frame.shown, member.path), std::move(member), nullptr, frame.format->name};
        Member &m = leaf.member;
        if (!m.problem.empty()) return true;
        if (m.data_length > budget_) {
            m.problem = "claims " + std::to_string(m.data_length) + " bytes, more than the containers around it can hold; not read";
            return true;
        }
        budget_ -= m.data_length;
        std::shared_ptr<const Source> data, resource;
        const Format *inner = nullptr;
        try {
            data = frame.container->data();
            inner = ndif_of(*frame.container, m, resource);
            if (inner == nullptr) inner = recognise(*data);
        } catch (const Error &e) {
            if (e.grade == Grade::kFatal) {
                leaf = failure(frame, e.what());
                stack_.pop_back();
                return true;
            }
            m.problem = e.what();
            return true;
        }
        if (inner == nullptr) {
            leaf.data = std::move(data);
            return true;
        }
        if (stack_.size() >= static_cast<size_t>(kMaxDepth)) {
            m.problem = std::string("a container (") + inner->name + ") nested deeper than " + std::to_string(kMaxDepth) +
                        " levels; not opened";
            return true;
        }
        if (list_containers_) {
            inner_ = std::make_unique<Inner>(Inner{data, resource, inner, leaf.path, leaf.shown});
            leaf.data = std::move(data);
            leaf.opens = inner->name;
            return true;
        }
        Leaf failed;
        if (!open([&] { return opened(*inner, data, resource); }, *inner, leaf.path, leaf.shown, failed)) {
            leaf = std::move(failed);
            return true;
        }
    }
    return false;
}

std::unique_ptr<Container> Walker::opened(const Format &format, std::shared_ptr<const Source> data,
                                          std::shared_ptr<const Source> resource) {
    return resource != nullptr ? open_ndif(std::move(data), std::move(resource)) : format.open(std::move(data));
}

const Format *Walker::ndif_of(Container &container, const Member &member, std::shared_ptr<const Source> &resource) {
    // No other member's resource fork (which StuffIt would decode) is read.
    if (member.resource_length == 0 || !has_ndif_type(member)) return nullptr;
    try {
        resource = container.resource();
    } catch (const Error &) {
        // A resource fork that cannot be read holds no chunk table for us;
        // the data fork is still the member's.
        resource.reset();
    }
    if (resource == nullptr || !is_ndif(*resource)) {
        resource.reset();
        return nullptr;
    }
    return &ndif_format();
}

}  // namespace containers
