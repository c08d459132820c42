#include "tool.h"

#include <ambrite/xml/foundation.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <xercesc/util/TransService.hpp>

#include "dom/internal.h"

namespace amxml {

using Ambrite::XML::Exception;
using Ambrite::XML::Format;

FileSource::FileSource(std::FILE* file) : file_(file) {}

FileSource::~FileSource() { close(); }

unsigned int FileSource::read(unsigned char* buffer, unsigned int max) {
    if (!file_ || max == 0) return 0;
    std::size_t n = std::fread(buffer, 1, max, file_);
    if (n == 0 && std::ferror(file_)) {
        throw Exception(3, Format("Read error: %s", std::strerror(errno)));
    }
    return static_cast<unsigned int>(n);
}

void FileSource::close() {
    if (file_ && file_ != stdin) std::fclose(file_);
    file_ = nullptr;
}

void StdoutSink::write(const unsigned char* bytes, unsigned int count) {
    if (count && std::fwrite(bytes, 1, count, stdout) != count) {
        throw ToolError{std::string("cannot write the output: ") + std::strerror(errno)};
    }
}

void StdoutSink::close() {
    if (std::fflush(stdout) != 0) {
        throw ToolError{std::string("cannot write the output: ") + std::strerror(errno)};
    }
}

FileSource* openInput(const std::string& path) {
    if (path == "-") return new FileSource(stdin);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw ToolError{"cannot open " + path + ": " + std::strerror(errno)};
    return new FileSource(file);
}

bool isHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

bool parseArguments(int argc, char** argv, const char* usage,
                    const std::function<bool(int& i)>& option, const char*& input) {
    input = nullptr;
    bool options = true;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && isHelp(arg)) {
            std::fputs(usage, stdout);
            return false;
        } else if (options && arg[0] == '-' && arg[1] != 0) {
            if (!option(i)) throw UsageError{std::string("unknown option '") + arg + "'"};
        } else if (input) {
            throw UsageError{"only one input may be given"};
        } else {
            input = arg;
        }
    }
    return true;
}

bool optionValue(int argc, char** argv, int& i, const char* name, std::string& value) {
    std::size_t n = std::strlen(name);
    const char* arg = argv[i];
    if (std::strncmp(arg, name, n) != 0) return false;
    if (arg[n] == '=') {
        value = arg + n + 1;
        return true;
    }
    if (arg[n] != 0) return false;
    if (i + 1 >= argc) throw UsageError{std::string("option ") + name + " needs a value"};
    value = argv[++i];
    return true;
}

std::unique_ptr<Ambrite::XML::DOMDocument, Ambrite::XML::DocumentRelease> parseInput(
    const char* input) {
    std::unique_ptr<FileSource> source(openInput(input ? input : "-"));
    return std::unique_ptr<Ambrite::XML::DOMDocument, Ambrite::XML::DocumentRelease>(
        Ambrite::XML::DOMUtil::parse(source.get()));
}

void forEachChild(Ambrite::XML::DOMNode* parent,
                  const std::function<bool(Ambrite::XML::DOMNode*)>& visit) {
    using Ambrite::XML::DOMNode;
    // The walk sees through entity references by itself; it goes no deeper than the children,
    // since it is told to descend only at the parent.
    Ambrite::XML::internal::Walker<Ambrite::XML::internal::NoData, true> children(parent);
    if (!children.descend()) return;
    while (children.next()) {
        if (!children.entering()) continue;
        DOMNode* n = children.node();
        switch (n->getNodeType()) {
            case DOMNode::ELEMENT_NODE:
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
            case DOMNode::COMMENT_NODE:
            case DOMNode::PROCESSING_INSTRUCTION_NODE:
                if (!visit(n)) return;
                break;
            default:
                break;
        }
    }
}

Ambrite::XML::DOMNode* locate(Ambrite::XML::DOMDocument* document, const std::string& locator) {
    using Ambrite::XML::DOMNode;
    if (locator.size() < 2 || locator[0] != '/') {
        throw UsageError{"invalid locator '" + locator + "' (expecting /1/2/...)"};
    }
    DOMNode* node = document;
    std::size_t p = 1;
    while (p <= locator.size()) {
        std::size_t end = locator.find('/', p);
        if (end == std::string::npos) end = locator.size();
        std::string step = locator.substr(p, end - p);
        if (step.empty() || step.size() > 9 || step[0] == '0' ||
            step.find_first_not_of("0123456789") != std::string::npos) {
            throw UsageError{"invalid locator '" + locator + "' (expecting /1/2/...)"};
        }
        long index = std::stol(step);
        DOMNode* child = nullptr;
        forEachChild(node, [&](DOMNode* n) {
            if (n->getNodeType() == DOMNode::ELEMENT_NODE && --index == 0) child = n;
            return child == nullptr;
        });
        if (!child) return nullptr;
        node = child;
        p = end + 1;
    }
    return node;
}

std::u16string fromUtf8(const std::string& text, const char* what) {
    try {
        xercesc::TranscodeFromStr wide(reinterpret_cast<const XMLByte*>(text.data()), text.size(),
                                       "UTF-8");
        return std::u16string(wide.str(), wide.length());
    } catch (const xercesc::XMLException&) {
        throw UsageError{std::string(what) + " '" + text + "' is not UTF-8"};
    }
}

int runCommand(const char* name, const char* usage, const std::function<int()>& body) {
    try {
        return body();
    } catch (const Exception& e) {
        std::fflush(stdout);
        std::cerr << e << std::endl;
        return FAILURE;
    } catch (const ToolError& e) {
        std::fflush(stdout);
        std::cerr << "amxml " << name << ": " << e.message << std::endl;
        return FAILURE;
    } catch (const UsageError& e) {
        std::cerr << "amxml " << name << ": " << e.message << "\n" << usage << std::flush;
        return USAGE;
    }
}

}  // namespace amxml
