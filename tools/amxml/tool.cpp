#include "tool.h"

#include <ambrite/xml/foundation.h>

#include <cerrno>
#include <cstring>
#include <iostream>

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

std::unique_ptr<Ambrite::XML::DOMDocument, Ambrite::XML::DocumentRelease> parseInput(
    const char* input) {
    std::unique_ptr<FileSource> source(openInput(input ? input : "-"));
    return std::unique_ptr<Ambrite::XML::DOMDocument, Ambrite::XML::DocumentRelease>(
        Ambrite::XML::DOMUtil::parse(source.get()));
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
