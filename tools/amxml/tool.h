// Shared pieces of the amxml subcommands: stream adapters over stdio, input opening, usage
// errors and the common way a command body is run and its failures reported.
#ifndef AMXML_TOOL_H
#define AMXML_TOOL_H

#include <ambrite/xml/dom.h>
#include <ambrite/xml/streams.h>
#include <ambrite/xml/xpath.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace amxml {

using Ambrite::XML::OctetSink;
using Ambrite::XML::OctetSource;

/// A subcommand: its name, a one-line summary for `amxml --help`, and its entry point, which
/// receives the arguments after the subcommand name and gives the exit status.
struct Command {
    const char* name;
    const char* summary;
    int (*run)(int argc, char** argv);
};

// One entry point per subcommand, each in its own file; main.cpp lists them.
int serializeCommand(int argc, char** argv);
int c14nCommand(int argc, char** argv);
int xpathCommand(int argc, char** argv);
int xpointerCommand(int argc, char** argv);
int verifyCommand(int argc, char** argv);

/// Exit statuses shared by every subcommand.
enum Status { SUCCESS = 0, FAILURE = 1, USAGE = 2 };

/// A misuse of the command line: reported with the command's usage, exit status 2.
struct UsageError {
    std::string message;
};

/// A failure outside the library (a file that cannot be opened, a write error): exit status 1.
struct ToolError {
    std::string message;
};

/// Reads a FILE* as it is asked to, chunk by chunk; closes it on close() unless it is stdin.
class FileSource : public OctetSource {
public:
    /// Adopts `file` (never closed when it is stdin).
    explicit FileSource(std::FILE* file);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    /// Throws Exception 3 "Read error: %s" when the file cannot be read.
    unsigned int read(unsigned char* buffer, unsigned int max) override;
    void close() override;

private:
    std::FILE* file_;
};

/// Writes bytes unchanged to stdout; throws ToolError when stdout fails.
class StdoutSink : public OctetSink {
public:
    void write(const unsigned char* bytes, unsigned int count) override;
    /// Flushes stdout; it stays open.
    void close() override;
};

/// Opens FILE for binary reading, or stdin for "-"; throws ToolError when it cannot.
FileSource* openInput(const std::string& path);

/// True when `arg` asks for help.
bool isHelp(const char* arg);

/// Walks a command line: "--" ends the options, --help prints `usage` (then false is given),
/// `option` takes the command's own options (advancing i past a value it consumes, false for an
/// option it does not know), and the one operand left is the input (null when absent).
bool parseArguments(int argc, char** argv, const char* usage,
                    const std::function<bool(int& i)>& option, const char*& input);

/// The value of option `name` at argv[i], given as "--name VALUE" (i then moves past VALUE) or
/// "--name=VALUE"; false when argv[i] is another option. A missing value is a usage error.
bool optionValue(int argc, char** argv, int& i, const char* name, std::string& value);

/// The tool's own parse memory bound, below the library's default.
constexpr unsigned long long kDefaultMaxMemory = 2ull << 30;

/// Parse limits of the tool, changed by --max-depth N and --max-memory SIZE.
struct ParseLimits {
    ParseLimits() { limits.maxMemory(kDefaultMaxMemory); }
    /// Takes argv[i] if it is one of the two options (see optionValue); a malformed value is a
    /// usage error.
    bool option(int argc, char** argv, int& i);

    Ambrite::XML::DOMUtil::Limits limits;
};

/// The usage lines of the two options, for the commands' usage texts.
#define AMXML_LIMIT_OPTIONS_USAGE                                                         \
    "  --max-depth N      refuse documents nesting elements more than N deep (default "   \
    "10000)\n"                                                                            \
    "  --max-memory SIZE  refuse documents whose parse would hold more than SIZE bytes\n" \
    "                     (K, M, G or T multiply by 1024 each; default 2G)\n"

/// Throws `e`; a parse failure over one of the two settable limits with the option that raises
/// the limit appended to its message (" (amxml --max-depth)").
[[noreturn]] void throwNamingOption(const Ambrite::XML::Exception& e);

/// Parses the input named on the command line (standard input for "-" or none). A document
/// over one of the two settable limits fails with the library's message and the option that
/// raises the limit.
std::unique_ptr<Ambrite::XML::DOMDocument, Ambrite::XML::DocumentRelease> parseInput(
    const char* input, const ParseLimits& limits);

/// Calls visit(child) for each child of `parent` that XPath sees (elements, text, CDATA sections,
/// comments and processing instructions; those of an entity reference in its place), in order,
/// until visit gives false.
void forEachChild(Ambrite::XML::DOMNode* parent,
                  const std::function<bool(Ambrite::XML::DOMNode*)>& visit);

/// The element a child sequence designates (/1 is the document element, /1/3/2 the second
/// element child of its third element child, children counted as XPath sees them), or null; a
/// malformed sequence is a usage error.
Ambrite::XML::DOMNode* locate(Ambrite::XML::DOMDocument* document, const std::string& locator);

/// Writes "nodeset" and then the path of each node of `nodes` on its own line, in document
/// order and once each: / for the document; /1/3/2 for an element (the second element child of
/// the third element child of the document element); the element's path and /@NAME for an
/// attribute; the parent's path and /text()[K], /comment()[K] or /processing-instruction()[K]
/// for the K-th child of that kind (CDATA sections count as text), children of entity
/// references counted as children of the reference's parent. `nodes` is read, not deleted.
void writeNodeSet(Ambrite::XML::XPath::Iterator* nodes, Ambrite::XML::CharacterSink& out);

/// The path of one node, as writeNodeSet() writes it.
std::u16string nodePath(Ambrite::XML::DOMNode* node);

/// Names of attributes that hold IDs, as --id-attr gives them: namespace name ("" for none) and
/// local name.
typedef std::vector<std::pair<std::u16string, std::u16string>> IdAttributes;

/// An --id-attr value, "LOCAL" or "{NAMESPACE}LOCAL"; a usage error when malformed.
std::pair<std::u16string, std::u16string> idAttribute(const std::string& name);

/// Registers the attributes `names` names as IDs of their elements
/// (AMXML_Element_setIdAttributeNode; the elements of entity references too, which the DOM holds
/// read-only), then fails as the streaming canonicalizer does, with Exception 13006 "More than one
/// element with ID %S", on the first value in document order that a second element carries in an ID
/// attribute, typed by the DTD or named: a second element with the ID of a signed one is how a
/// forgery hides. One walk of the elements in document order (those of entity references in their
/// place), which calls `visit` for each element, when given.
void registerIds(Ambrite::XML::DOMDocument* document, const IdAttributes& names,
                 const std::function<void(Ambrite::XML::DOMNode*)>& visit = nullptr);

/// UTF-8 text as UTF-16; a usage error saying that `what` ('prefix', ...) is not UTF-8.
std::u16string fromUtf8(const std::string& text, const char* what);

/// `text` with its control characters escaped (\n, \r, \t, \xHH), so that it prints as one
/// line: C0 controls and DEL, and C1 controls as `latin1` text (the library's printed
/// Exceptions) or as UTF-8 (file names, arguments).
std::string printable(const std::string& text, bool latin1);

/// Runs a command body and gives its status. A library Exception is printed on stderr as the
/// library renders it, on one line (status 1); a ToolError as "amxml NAME: " and its message
/// (status 1); a UsageError as that, followed by `usage` (status 2). Control characters in
/// these lines are escaped (see printable), so that no input can add a line.
int runCommand(const char* name, const char* usage, const std::function<int()>& body);

}  // namespace amxml

#endif
