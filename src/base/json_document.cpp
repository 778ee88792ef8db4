// The document itself: its root, the arena its values live in, clones
// that share the root and copies that do not.

#include "json_internal.h"

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vantorel {
namespace jsondoc_detail {

LargeBuffer allocateBuffer(std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        if (void* p = std::aligned_alloc(kHugePage, rounded)) {
            ::madvise(p, rounded, MADV_HUGEPAGE);
            return LargeBuffer(static_cast<std::byte*>(p));
        }
    }
#endif
    void* p = std::malloc(bytes);
    if (!p)
        throw std::bad_alloc();
    return LargeBuffer(static_cast<std::byte*>(p));
}

} // namespace jsondoc_detail

using namespace jsondoc_detail;

JsonDocument::JsonDocument() {
    initialise();
}

JsonDocument::JsonDocument(std::shared_ptr<Root> root) : root_(std::move(root)) {}

JsonDocument::~JsonDocument() = default;
JsonDocument::JsonDocument(JsonDocument&&) noexcept = default;
JsonDocument& JsonDocument::operator=(JsonDocument&&) noexcept = default;

void JsonDocument::destroy() noexcept {
    root_.reset();
}

JsonDocument JsonDocument::clone() const {
    return JsonDocument(root_);
}

bool JsonDocument::initialise() {
    if (!root_)
        root_ = std::make_shared<Root>();
    return clear();
}

bool JsonDocument::clear() {
    if (!root_)
        return false;
    root_->reset(makeKind(Kind::Object));
    return true;
}

std::shared_ptr<JsonDocument::Root> JsonDocument::engine() const {
    return root_;
}

JsonDocument JsonDocument::getDocument(std::string_view path) const {
    JsonDocument doc;
    doc.root_->value = copyAsJson(resolve(root_.get(), path), doc.root_->arena);
    return doc;
}

JsonDocument JsonDocument::arrayMemberDocument(int index, std::string_view path) const {
    JsonDocument doc;
    const Node member = memberAt(resolve(root_.get(), path), index);
    doc.root_->value = copyAsJson(member, doc.root_->arena);
    return doc;
}

} // namespace vantorel
