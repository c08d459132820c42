#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "support/test_support.h"

using namespace amxml_test;
using testing::PrintToString;

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes hex(const std::string& digits) {
    Bytes out;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(std::stoul(digits.substr(i, 2), 0, 16));
    return out;
}

Bytes bytesOf(const Block* b) { return Bytes(b->data(), b->data() + b->length()); }

Block* block(const Bytes& b) { return new Block(b.data(), unsigned(b.size()), Block::Copy); }

void* released = nullptr;
void release(void* p) { utfree(released = p); }

struct FailingBuffer : std::streambuf {  // reads fail, as on a broken device
    int_type underflow() override { throw std::runtime_error("device gone"); }
};

}  // namespace

TEST(Block, OwnershipModes) {
    const unsigned char bytes[] = {1, 2, 3};
    Block copy(bytes, 3, Block::Copy);
    std::unique_ptr<Block> clone(copy.clone());
    EXPECT_TRUE(copy.data() != bytes && clone->data() != copy.data());
    EXPECT_EQ(Bytes({1, 2, 3}), bytesOf(clone.get()));
    // Borrowed bytes from utalloc: a block that freed them would make the release below a
    // double free, which the debug allocator stops.
    unsigned char* mine = static_cast<unsigned char*>(utalloc(2));
    EXPECT_EQ(mine, Block(mine, 2, Block::Reference).data());
    EXPECT_EQ(mine, Block(static_cast<void*>(mine), 2, nullptr).data());
    delete new Block(static_cast<void*>(mine), 2, release);
    EXPECT_EQ(mine, released);
    // Null bytes: an empty block whose own byte goes back through utfree, not `release`.
    released = nullptr;
    EXPECT_EQ(0u, Block(nullptr, 5, Block::Copy).length());
    EXPECT_EQ(0u, Block(nullptr, 5, Block::Reference).length());
    EXPECT_EQ(0u, Block(static_cast<void*>(nullptr), 5, release).length());
    EXPECT_EQ(nullptr, released);
}

TEST(Block, ReadsWholeStreams) {
    for (std::size_t n : {0u, 1u, 1023u, 1024u, 1025u, 2048u, 5000u}) {
        std::string data(n, '\0');
        for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<char>(i * 31 + 7);
        std::istringstream in(data);
        Block* b = nullptr;
        in >> b;
        EXPECT_EQ(Bytes(data.begin(), data.end()), bytesOf(std::unique_ptr<Block>(b).get())) << n;
    }
}

TEST(Block, FailedStreamThrowsReadError) {
    std::istringstream failed("abc");
    failed.setstate(std::ios_base::failbit);
    FailingBuffer broken;
    std::istream throwing(&broken), strict(&broken);
    strict.exceptions(std::ios_base::badbit);  // setstate throws
    std::ifstream missing("/nonexistent/amxml-test-file");
    const std::string error = "3: Read error: ", noFile = error + std::strerror(ENOENT);
    const std::pair<std::istream*, std::string> kStreams[] = {
        {&failed, error}, {&throwing, error}, {&strict, error}, {&missing, noFile}};
    for (const auto& [in, message] : kStreams) {
        Block* untouched = nullptr;
        const std::string f = thrown([&, s = in] { *s >> untouched; });
        EXPECT_EQ(message, f.substr(0, in == &missing ? f.size() : message.size()));
        EXPECT_EQ(nullptr, untouched);
    }
}

// clang-format off
TEST(BigInteger, NormalisesAndMeasures) {
    struct Case { const char *in, *normal; unsigned bits; int64_t value; const char* printed; };
    const Case kCases[] = {
        {"", "00", 0, 0, "0"},                    {"0000", "00", 0, 0, "0"},
        {"00007F", "7F", 7, 127, "127"},          {"0080", "0080", 8, 128, "128"},
        {"FFFF80", "80", 7, -128, "-128"},        {"FF7F", "FF7F", 8, -129, "-129"},
        {"FFFF", "FF", 0, -1, "-1"},              {"FFFE", "FE", 1, -2, "-2"},
        {"0100", "0100", 9, 256, "256"},
        {"7FFFFFFFFFFFFFFF", "7FFFFFFFFFFFFFFF", 63, INT64_MAX, "9223372036854775807"},
        {"8000000000000000", "8000000000000000", 63, INT64_MIN, "-9223372036854775808"},
        {"00010000000000000000", "010000000000000000", 65, INT64_MAX, "18446744073709551616"},
        {"FFFE0000000000000000", "FE0000000000000000", 65, INT64_MIN, "-36893488147419103232"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.in);
        Bytes in = hex(c.in);
        BigInteger n(in.data(), unsigned(in.size()));
        std::unique_ptr<BigDecimal> clone(n.clone());
        EXPECT_EQ(hex(c.normal), bytesOf(n.value()));
        EXPECT_EQ(c.bits, n.bitLength());
        EXPECT_EQ(c.value, n.longValue());
        EXPECT_EQ(c.printed, PrintToString(n));
        EXPECT_TRUE(dynamic_cast<BigInteger*>(clone.get()) && clone->cmp(&n) == 0);
    }
}

TEST(BigDecimal, PrintsSignedValueWithScale) {
    struct Case { const char* bytes; unsigned scale; const char* printed; };
    const Case kCases[] = {
        {"", 0, "0"},          {"00", 2, "0.00"},       {"05", 2, "0.05"},   {"04D2", 2, "12.34"},
        {"04D2", 4, "0.1234"}, {"04D2", 5, "0.01234"},  {"FB", 2, "-0.05"},  {"FF7F", 1, "-12.9"},
        {"80000000000000000000000000000000", 3, "-170141183460469231731687303715884105.728"},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(c.printed, PrintToString(BigDecimal(block(hex(c.bytes)), c.scale))) << c.bytes;
}

TEST(BigDecimal, CmpByScaleThenLengthThenUnsignedBytes) {
    struct Case { const char* a; unsigned scaleA; const char* b; unsigned scaleB; int cmp; };
    const Case kCases[] = {
        {"01", 2, "02", 2, -1},       {"01", 2, "01", 5, -3},      {"01", 5, "02", 2, 3},
        {"FFFF", 0, "000000", 0, -1}, {"000000", 0, "FF", 0, 2},   {"0102", 0, "0103", 0, -1},
        {"0102", 0, "0102", 0, 0},    {"80", 0, "7F", 0, 1},
        // Scales 2^31 and more apart: clamped, neither negated out of range nor wrapped.
        {"01", 0, "01", 0x80000000u, INT_MIN}, {"01", 0x80000000u, "01", 0, INT_MAX},
        {"01", 0, "01", UINT_MAX, INT_MIN},    {"01", UINT_MAX, "01", 0, INT_MAX},
    };
    for (const Case& c : kCases) {
        BigDecimal a(block(hex(c.a)), c.scaleA), b(block(hex(c.b)), c.scaleB);
        EXPECT_EQ(c.cmp, a.cmp(&b)) << c.a << " " << c.b;
    }
    // Lengths far apart: clamped, not wrapped round.
    std::unique_ptr<Block> none(block({}));
    EXPECT_EQ(INT_MAX, Block(&released, UINT_MAX, Block::Reference).cmp(none.get()));
    BigDecimal d(block({1, 2}), 3);
    std::unique_ptr<BigDecimal> clone(d.clone());
    EXPECT_TRUE(clone->cmp(&d) == 0 && clone->value()->data() != d.value()->data());
    EXPECT_EQ(nullptr, dynamic_cast<BigInteger*>(clone.get()));
}
// clang-format on

TEST(QualifiedName, OrderingPrintingAndCopies) {
    const XMLCh ns[] = u"a";
    QualifiedName local(nullptr, u"z", false), empty(u"", u"z", false), owned(ns, u"b", true),
        borrowed(ns, u"b", false), ac(u"a", u"\x263A", false), ba(u"b", u"a", false);
    // A null namespace first, then namespaces, then local names.
    const QualifiedName* sorted[] = {&local, &empty, &owned, &ac, &ba};
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(i / 5 < i % 5, QualifiedNameComparator()(sorted[i / 5], sorted[i % 5])) << i;
    EXPECT_EQ(0, owned.cmp(&borrowed));
    EXPECT_EQ(ns, borrowed.namespaceURI());  // owned copies are checked by their release
    EXPECT_EQ(0, std::unique_ptr<QualifiedName>(local.clone())->cmp(&local));
    std::string all;
    for (const QualifiedName* n : sorted) all += PrintToString(*n) + " ";
    EXPECT_EQ("z <>:z <a>:b <a>:? <b>:a ", all);
}

TEST(PassPhrase, CopiesTextAndTravelsWithStreams) {
    EXPECT_EQ(u"\x263Aw", u16(PassPhrase(u"\x263Aw").text()));
    EXPECT_EQ(u"p\x00E9", u16(PassPhrase("p\xE9").text()));  // zero-extended, not signed
    EXPECT_EQ(u"", u16(PassPhrase(static_cast<const char*>(nullptr)).text()));
    EXPECT_EQ(u"", u16(PassPhrase(static_cast<const XMLCh*>(nullptr)).text()));
    std::istringstream in("data"), to("");
    EXPECT_EQ(nullptr, PassPhrase::extract(in));
    in >> PassPhrase("first") >> PassPhrase("second");  // the first is replaced and freed
    EXPECT_EQ(u"second", u16(Owned(PassPhrase::extract(in)).get()));
    EXPECT_EQ(nullptr, PassPhrase::extract(in));
    to >> PassPhrase("old");  // freed when copyfmt replaces it
    in >> PassPhrase("secret");
    to.copyfmt(in);
    Owned a(PassPhrase::extract(in)), b(PassPhrase::extract(to));
    EXPECT_TRUE(a.get() != b.get() && u16(a.get()) == u"secret" && u16(b.get()) == u"secret");
    std::string rest;
    in >> rest;
    EXPECT_EQ("data", rest);  // attaching leaves the stream's content alone
}
