#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "support/test_support.h"

using namespace amxml_test;

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes bytesOf(const Block& b) { return Bytes(b.data(), b.data() + b.length()); }

template <class T>
std::string text(const T& value) {
    std::ostringstream s;
    s << value;
    return s.str();
}

Bytes hex(const std::string& digits) {
    Bytes out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

int releases = 0;
void* released = nullptr;
void countRelease(void* p) {
    ++releases;
    released = p;
    utfree(p);
}

// A stream buffer whose reads fail, as a broken device would.
class FailingBuffer : public std::streambuf {
protected:
    int_type underflow() override { throw std::runtime_error("device gone"); }
};

std::unique_ptr<Block> readAll(std::istream& in) {
    Block* b = nullptr;
    in >> b;
    return std::unique_ptr<Block>(b);
}

struct Freed {
    void operator()(XMLCh* p) const { utfree(p); }
};
typedef std::unique_ptr<XMLCh, Freed> Owned;

}  // namespace

TEST(Block, OwnershipModes) {
    const unsigned char bytes[] = {1, 2, 3};
    Block copy(bytes, 3, Block::Copy);
    EXPECT_NE(bytes, copy.data());
    EXPECT_EQ(Bytes({1, 2, 3}), bytesOf(copy));
    {
        // Caller's bytes from utalloc: a block that freed them would make the utfree below a
        // double free, which the debug allocator stops.
        unsigned char* mine = static_cast<unsigned char*>(utalloc(2));
        EXPECT_EQ(mine, Block(mine, 2, Block::Reference).data());
        EXPECT_EQ(mine, Block(static_cast<void*>(mine), 2, nullptr).data());
        utfree(mine);
    }
    unsigned char* adopted = static_cast<unsigned char*>(utalloc(4));
    releases = 0;
    { Block b(static_cast<void*>(adopted), 4, countRelease); }
    EXPECT_EQ(1, releases);
    EXPECT_EQ(adopted, released);
    for (Block::Op op : {Block::Copy, Block::Reference}) {
        Block none(nullptr, 5, op);
        EXPECT_EQ(0u, none.length());
        EXPECT_NE(nullptr, none.data());
    }
    releases = 0;
    EXPECT_EQ(0u, Block(static_cast<void*>(nullptr), 5, countRelease).length());
    EXPECT_EQ(0, releases);  // the byte it allocated itself goes back through utfree
    std::unique_ptr<Block> clone(copy.clone());
    EXPECT_NE(copy.data(), clone->data());
    EXPECT_EQ(0, clone->cmp(&copy));
}

TEST(Block, CmpByLengthThenUnsignedBytes) {
    const unsigned char a[] = {0xFF, 0xFF}, b[] = {0, 0, 0}, c[] = {1, 2}, d[] = {1, 3},
                        e[] = {0x80}, f[] = {0x7F};
    Block ba(a, 2, Block::Reference), bb(b, 3, Block::Reference), bc(c, 2, Block::Reference),
        bd(d, 2, Block::Reference), be(e, 1, Block::Reference), bf(f, 1, Block::Reference);
    EXPECT_EQ(-1, ba.cmp(&bb));
    EXPECT_EQ(1, bb.cmp(&ba));
    EXPECT_EQ(-1, bc.cmp(&bd));
    EXPECT_EQ(1, bd.cmp(&bc));
    EXPECT_EQ(0, bc.cmp(&bc));
    EXPECT_EQ(1, be.cmp(&bf));
    EXPECT_EQ(-2, bf.cmp(&bb));
}

TEST(Block, ReadsWholeStreams) {
    for (std::size_t n : {0u, 1u, 1023u, 1024u, 1025u, 2048u, 5000u}) {
        SCOPED_TRACE(n);
        std::string data(n, '\0');
        for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<char>(i * 31 + 7);
        std::istringstream in(data);
        std::unique_ptr<Block> b = readAll(in);
        ASSERT_NE(nullptr, b);
        EXPECT_EQ(data, std::string(reinterpret_cast<const char*>(b->data()), b->length()));
        EXPECT_FALSE(in.fail());
    }
}

TEST(Block, FailedStreamThrowsReadError) {
    std::istringstream failed("abc");
    failed.setstate(std::ios_base::failbit);
    FailingBuffer broken;
    std::istream brokenStream(&broken);
    std::ifstream missing("/nonexistent/amxml-test-file");
    for (std::istream* in : {static_cast<std::istream*>(&failed), &brokenStream,
                             static_cast<std::istream*>(&missing)}) {
        Block* untouched = nullptr;
        try {
            *in >> untouched;
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(3, e.id());
            EXPECT_EQ(0, std::strncmp("Read error: ", e.what().c_str(), 12)) << printed(e);
            if (in == &missing) {
                EXPECT_EQ(std::string("Read error: ") + std::strerror(ENOENT), e.what().c_str());
            }
        }
        EXPECT_EQ(nullptr, untouched);
    }
}

// clang-format off
TEST(BigInteger, NormalisesAndMeasures) {
    struct Case { const char* in; const char* normal; unsigned bits; std::int64_t value; const char* printed; };
    const Case kCases[] = {
        {"", "00", 0, 0, "0"},                    {"0000", "00", 0, 0, "0"},
        {"00007F", "7F", 7, 127, "127"},          {"0080", "0080", 8, 128, "128"},
        {"FFFF80", "80", 7, -128, "-128"},        {"FF7F", "FF7F", 8, -129, "-129"},
        {"FFFF", "FF", 0, -1, "-1"},              {"01", "01", 1, 1, "1"},
        {"0100", "0100", 9, 256, "256"},          {"FFFE", "FE", 1, -2, "-2"},
        {"7FFFFFFFFFFFFFFF", "7FFFFFFFFFFFFFFF", 63, INT64_MAX, "9223372036854775807"},
        {"8000000000000000", "8000000000000000", 63, INT64_MIN, "-9223372036854775808"},
        {"00010000000000000000", "010000000000000000", 65, INT64_MAX, "18446744073709551616"},
        {"FFFE0000000000000000", "FE0000000000000000", 65, INT64_MIN, "-36893488147419103232"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.in);
        Bytes in = hex(c.in);
        BigInteger n(in.data(), static_cast<unsigned int>(in.size()));
        EXPECT_EQ(hex(c.normal), bytesOf(*n.value()));
        EXPECT_EQ(0u, n.scale());
        EXPECT_EQ(c.bits, n.bitLength());
        EXPECT_EQ(c.value, n.longValue());
        EXPECT_EQ(c.printed, text(n));
        std::unique_ptr<BigDecimal> clone(n.clone());
        EXPECT_NE(nullptr, dynamic_cast<BigInteger*>(clone.get()));
        EXPECT_EQ(0, clone->cmp(&n));
    }
}

TEST(BigDecimal, PrintsSignedValueWithScale) {
    struct Case { const char* bytes; unsigned scale; const char* printed; };
    const Case kCases[] = {
        {"", 0, "0"},         {"0000", 0, "0"},         {"00", 2, "0.00"},      {"05", 2, "0.05"},
        {"04D2", 2, "12.34"}, {"04D2", 4, "0.1234"},    {"04D2", 5, "0.01234"}, {"FB", 2, "-0.05"},
        {"FF7F", 1, "-12.9"}, {"00000100", 0, "256"},
        {"00FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", 0, "340282366920938463463374607431768211455"},
        {"80000000000000000000000000000000", 3, "-170141183460469231731687303715884105.728"},
    };
    for (const Case& c : kCases) {
        Bytes b = hex(c.bytes);
        BigDecimal d(new Block(b.data(), static_cast<unsigned int>(b.size()), Block::Copy), c.scale);
        EXPECT_EQ(c.printed, text(d)) << c.bytes;
    }
}
// clang-format on

TEST(BigDecimal, CmpScaleFirstAndClone) {
    const unsigned char one[] = {1}, two[] = {2};
    BigDecimal a(new Block(one, 1, Block::Copy), 2), b(new Block(two, 1, Block::Copy), 2),
        c(new Block(one, 1, Block::Copy), 5);
    EXPECT_EQ(-1, a.cmp(&b));
    EXPECT_EQ(-3, a.cmp(&c));
    EXPECT_EQ(3, c.cmp(&b));
    std::unique_ptr<BigDecimal> clone(c.clone());
    EXPECT_EQ(0, clone->cmp(&c));
    EXPECT_NE(c.value()->data(), clone->value()->data());
    EXPECT_EQ(nullptr, dynamic_cast<BigInteger*>(clone.get()));
}

TEST(QualifiedName, OrderingPrintingAndCopies) {
    QualifiedName local(nullptr, u"z", false), nsA(u"a", u"b", true), nsA2(u"a", u"b", false),
        nsAc(u"a", u"c", false), nsB(u"b", u"a", false), empty(u"", u"z", false);
    EXPECT_LT(local.cmp(&empty), 0);
    EXPECT_GT(empty.cmp(&local), 0);
    EXPECT_EQ(0, nsA.cmp(&nsA2));
    EXPECT_LT(nsA.cmp(&nsAc), 0);
    EXPECT_LT(nsAc.cmp(&nsB), 0);
    EXPECT_LT(empty.cmp(&nsA), 0);
    QualifiedNameComparator less;
    EXPECT_TRUE(less(&local, &nsA));
    EXPECT_FALSE(less(&nsA, &nsA2));
    EXPECT_EQ("<a>:b", text(nsA));
    EXPECT_EQ("z", text(local));
    EXPECT_EQ("<>:z", text(empty));
    EXPECT_EQ("<u?>:n?", text(QualifiedName(u"u\x263A", u"n\x0100", false)));

    const XMLCh ns[] = u"urn:x", name[] = u"n";
    QualifiedName borrowed(ns, name, false), owned(ns, name, true);
    EXPECT_EQ(ns, borrowed.namespaceURI());
    EXPECT_NE(ns, owned.namespaceURI());
    EXPECT_NE(name, owned.localName());
    std::unique_ptr<QualifiedName> clone(local.clone());
    EXPECT_EQ(nullptr, clone->namespaceURI());
    EXPECT_NE(local.localName(), clone->localName());
    EXPECT_EQ(0, clone->cmp(&local));
}

TEST(PassPhrase, CopiesText) {
    // Zero-extended, unlike StringUtil::copy.
    EXPECT_EQ(u"p\x00E9", u16(PassPhrase("p\xE9").text()));
    const XMLCh wide[] = u"\x263Aw";
    PassPhrase p(wide);
    EXPECT_NE(wide, p.text());
    EXPECT_EQ(u16(wide), u16(p.text()));
}

TEST(PassPhrase, ExtractGivesAttachmentOnce) {
    std::istringstream in("data");
    EXPECT_EQ(nullptr, PassPhrase::extract(in));
    in >> PassPhrase("first");
    in >> PassPhrase("second");  // replaces the first, which is freed
    Owned got(PassPhrase::extract(in));
    EXPECT_EQ(u"second", u16(got.get()));
    EXPECT_EQ(nullptr, PassPhrase::extract(in));
    in >> PassPhrase("again");
    EXPECT_EQ(u"again", u16(Owned(PassPhrase::extract(in)).get()));
    std::string rest;
    in >> rest;
    EXPECT_EQ("data", rest);  // attaching does not touch the stream's content
}

TEST(PassPhrase, CopyfmtGivesCopyItsOwnDuplicate) {
    std::istringstream from(""), to("");
    to >> PassPhrase("old");  // freed when copyfmt replaces it
    from >> PassPhrase("secret");
    to.copyfmt(from);
    Owned a(PassPhrase::extract(from)), b(PassPhrase::extract(to));
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(u"secret", u16(b.get()));
}
