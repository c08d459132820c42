// Fuzz target: bytes -> UTF-16 strings -> the URI helpers. Only the library's Exception may come
// out, and every string returned is freed.
//
// Input: byte 0 holds flags (bit 0: the units are little-endian pairs rather than widened bytes;
// bit 1: no base); the rest is the reference and the base, split at the first zero unit.
#include <ambrite/xml/dom.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Ambrite::XML;

namespace {

template <class T>
void check(T* result) {
    if (result) utfree(result);
}

template <class F>
void call(F f) {
    try {
        check(f());
    } catch (const Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    call([] { return URIUtil::cwd(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned flags = data[0];
    std::vector<XMLCh> units;
    if (flags & 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2) {
            units.push_back(static_cast<XMLCh>(data[i] | (data[i + 1] << 8)));
        }
    } else {
        for (std::size_t i = 1; i < size; ++i) units.push_back(data[i]);
    }
    units.push_back(0);
    const XMLCh* uri = units.data();
    std::size_t split = 0;
    while (uri[split]) ++split;
    const XMLCh* base = split + 1 < units.size() && !(flags & 2) ? uri + split + 1 : nullptr;

    call([&] { return URIUtil::resolve(uri, base); });
    call([&] { return URIUtil::pathname(uri); });
    call([&] { return URIUtil::filename(uri); });
    call([&] { return URIUtil::unescape(uri); });
    call([&] { return URIUtil::transcode(uri); });
    if (base) {
        call([&] { return URIUtil::resolve(base, uri); });
        call([&] { return URIUtil::unescape(base); });
    }
    return 0;
}
