#include <ambrite/xml/dom.h>
#include <unistd.h>

#include <climits>
#include <memory>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

typedef std::unique_ptr<XMLCh, AMXMLDelete> OwnedString;

const XMLCh kEmpty[] = {0};

bool isLetter(XMLCh c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

bool isSchemeUnit(XMLCh c) {
    return isLetter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

bool hasScheme(const XMLCh* uri) {
    if (!isLetter(*uri)) return false;
    const XMLCh* p = uri + 1;
    while (isSchemeUnit(*p)) ++p;
    return *p == u':';
}

int hexValue(XMLCh c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// Position of the last '/' in s[0, n), or n when there is none.
std::size_t lastSlash(const XMLCh* s, std::size_t n) {
    for (std::size_t i = n; i > 0; --i) {
        if (s[i - 1] == u'/') return i - 1;
    }
    return n;
}

// Start of the path: after the first ':', after a '/' that follows it, and past an authority
// introduced by a second '/'.
std::size_t pathStart(const XMLCh* s) {
    const XMLCh* colon = StringUtil::find(s, u':');
    if (!colon) return 0;
    const XMLCh* p = colon + 1;
    if (*p == u'/') {
        ++p;
        if (*p == u'/') {
            ++p;
            while (*p && *p != u'/') ++p;
            if (*p) ++p;
        }
    }
    return static_cast<std::size_t>(p - s);
}

// Collapses runs of '/' and removes "." and ".." segments; the text only ever shrinks, so the
// writer never overtakes the reader.
void normalise(XMLCh* s) {
    const std::size_t start = pathStart(s);
    std::size_t r = start, w = start;
    while (s[r]) {
        const bool segmentStart = w == start || s[w - 1] == u'/';
        if (segmentStart) {
            if (s[r] == u'/') {
                ++r;
                continue;
            }
            if (s[r] == u'.' && (s[r + 1] == u'/' || s[r + 1] == 0)) {
                r += s[r + 1] ? 2 : 1;
                continue;
            }
            if (s[r] == u'.' && s[r + 1] == u'.' && (s[r + 2] == u'/' || s[r + 2] == 0)) {
                r += s[r + 2] ? 3 : 2;
                if (w > start) {
                    --w;
                    while (w > start && s[w - 1] != u'/') --w;
                }
                continue;
            }
        }
        s[w++] = s[r++];
    }
    s[w] = 0;
}

void append(StringBuffer& buffer, const XMLCh* s, std::size_t n) {
    if (n > UINT_MAX / sizeof(XMLCh) - buffer.length()) internal::outOfMemory();
    buffer.append(s, static_cast<unsigned int>(n));
}

}  // namespace

XMLCh* URIUtil::cwd() {
    static const char kPrefix[] = "file://";
    const std::size_t prefixLength = sizeof kPrefix - 1;
    char scratch[prefixLength + 4096 + 1];
    std::memcpy(scratch, kPrefix, prefixLength);
    if (!getcwd(scratch + prefixLength, 4096)) {
        throw Exception(12, "Error locating current directory");
    }
    // A POSIX directory is absolute, so "file://" and the directory give "file:///x/y". The
    // bytes are kept as Latin-1 units, so that transcode() gives them back unchanged; a "%" is
    // escaped, so that unescape() does too.
    const std::size_t n = std::strlen(scratch);
    const bool endsInSlash = scratch[n - 1] == '/';
    std::size_t percents = 0;
    for (std::size_t i = prefixLength; i < n; ++i) percents += scratch[i] == '%';
    XMLCh* uri =
        static_cast<XMLCh*>(internal::checkedAlloc((n + 2 * percents + 2) * sizeof(XMLCh)));
    std::size_t end = 0;
    for (std::size_t i = 0; i < n; ++i) {
        uri[end++] = static_cast<unsigned char>(scratch[i]);
        if (scratch[i] == '%') {
            uri[end++] = u'2';
            uri[end++] = u'5';
        }
    }
    if (!endsInSlash) uri[end++] = u'/';
    uri[end] = 0;
    return uri;
}

XMLCh* URIUtil::resolve(const XMLCh* uri, const XMLCh* base) {
    if (!uri) uri = kEmpty;
    StringBuffer result(64);
    if (!hasScheme(uri)) {
        if (!base) {
            throw Exception(12,
                            Format("No base URI against which to resolve relative URI: %S", uri));
        }
        const XMLCh* separator = StringUtil::find(base, u"://");
        if (!separator) throw Exception(12, Format("Base URI is not absolute: %S", base));
        const std::size_t colon = static_cast<std::size_t>(separator - base);
        const std::size_t baseLength = internal::length(base);
        std::size_t prefix;
        bool addRootPath = false;
        if (uri[0] == u'/' && uri[1] == u'/') {
            prefix = colon + 1;
        } else if (uri[0] == u'/') {
            const XMLCh* slash = StringUtil::find(base + colon + 3, u'/');
            prefix = slash ? static_cast<std::size_t>(slash - base) : baseLength;
        } else if (uri[0] == u'#') {
            prefix = baseLength;
        } else {
            prefix = lastSlash(base, baseLength) + 1;
            // A base with an authority and no path ("s://h") has the path "/": its last slash
            // belongs to "://", and the reference must not become the authority.
            if (prefix == colon + 3) {
                prefix = baseLength;
                addRootPath = true;
            }
        }
        append(result, base, prefix);
        if (addRootPath) result.append(u'/');
    }
    append(result, uri, internal::length(uri));
    XMLCh* text = result.release();
    normalise(text);
    return text;
}

XMLCh* URIUtil::pathname(const XMLCh* uri) {
    if (!uri) uri = kEmpty;
    const std::size_t n = internal::length(uri);
    const std::size_t slash = lastSlash(uri, n);
    if (slash == n) throw Exception(12, Format("No path name in URI: %S", uri));
    return internal::dupString(uri, slash + 1);
}

XMLCh* URIUtil::filename(const XMLCh* uri) {
    if (!uri) uri = kEmpty;
    const std::size_t n = internal::length(uri);
    const std::size_t slash = lastSlash(uri, n);
    const std::size_t start = slash == n ? 0 : slash + 1;
    if (start == n) throw Exception(12, Format("No file name in URI: %S", uri));
    return internal::dupString(uri + start, n - start);
}

char* URIUtil::transcode(const XMLCh* uri) {
    if (!uri) uri = kEmpty;
    const std::size_t n = internal::length(uri);
    std::unique_ptr<char, AMXMLDelete> narrow(static_cast<char*>(internal::checkedAlloc(n + 1)));
    for (std::size_t i = 0; i < n; ++i) {
        if (uri[i] >= 256) throw Exception(12, Format("Invalid non latin-1 URL: %S", uri));
        narrow.get()[i] = static_cast<char>(static_cast<unsigned char>(uri[i]));
    }
    narrow.get()[n] = 0;
    return narrow.release();
}

XMLCh* URIUtil::unescape(const XMLCh* uri) {
    if (!uri) uri = kEmpty;
    const std::size_t n = internal::length(uri);
    if (n + 1 > UINT_MAX / sizeof(XMLCh)) internal::outOfMemory();
    OwnedString result(static_cast<XMLCh*>(internal::checkedAlloc((n + 1) * sizeof(XMLCh))));
    XMLCh* w = result.get();
    for (const XMLCh* p = uri; *p; ++p) {
        if (*p != u'%') {
            *w++ = *p;
            continue;
        }
        // p[2] is read only when p[1] is a digit, so never past the terminator.
        const int high = hexValue(p[1]);
        const int low = high < 0 ? -1 : hexValue(p[2]);
        const int value = high * 16 + low;
        // "%00" would end the string early and hide what follows it.
        if (low < 0 || value == 0) throw Exception(12, Format("Invalid escape in URL: %S", uri));
        if (value >= 128) throw Exception(12, Format("UTF-8 URLs not supported: %S", uri));
        *w++ = static_cast<XMLCh>(value);
        p += 2;
    }
    *w = 0;
    return result.release();
}

}  // namespace XML
}  // namespace Ambrite
