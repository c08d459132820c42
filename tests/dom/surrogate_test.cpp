// Unpaired surrogates are no XML characters: documents holding one are rejected, also where the
// scanner itself lets one through.
#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

// A UTF-16LE document with a byte order mark.
std::string utf16(const std::u16string& text) {
    std::string bytes("\xFF\xFE", 2);
    for (char16_t c : text) bytes += static_cast<char>(c & 0xFF), bytes += static_cast<char>(c >> 8);
    return bytes;
}

}  // namespace

TEST(DOMUtilParse, RejectsUnpairedSurrogates) {
    const std::u16string kDocuments[] = {
        u"<a b=\"\xDAE9\"/>",
        u"<a b=\"x\xDC00\"/>",
        u"<a><?p \xDAE9?></a>",
        u"<!DOCTYPE a [<!ENTITY e \"x\xDAE9\">]><a b=\"&e;\"/>",
        u"<!DOCTYPE a [<!ATTLIST a b CDATA \"\xDAE9\">]><a/>",
        u"<a>\xDAE9</a>",
    };
    for (const std::u16string& d : kDocuments) {
        SCOPED_TRACE(utf8(d));
        try {
            parse(utf16(d));
            ADD_FAILURE() << "parsed";
        } catch (const Exception& e) {
            EXPECT_EQ(9, e.id());
            EXPECT_EQ(0u, printed(e).find("Ambrite::XML::Exception 9: Fatal DOM error: Line 1, column "));
        }
    }
    // Pairs are characters like any other.
    DocumentPtr doc = parse(utf16(u"<a b=\"\xD83D\xDE00\"><?p \xD83D\xDE00?></a>"));
    EXPECT_EQ(u"\xD83D\xDE00", u16(doc->getDocumentElement()->getAttribute(u"b")));
}
