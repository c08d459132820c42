// amxml: a thin command-line front on the library. Each subcommand lives in its own file and
// is listed in kCommands below.
#include <ambrite/xml/dom.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "tool.h"

namespace {

const amxml::Command kCommands[] = {
    {"c14n", "write the canonical form of a document or of an element subtree", amxml::c14nCommand},
    {"serialize", "parse a document safely and write it back as UTF-8", amxml::serializeCommand},
    {"xpath", "evaluate an XPath 1.0 expression against a document", amxml::xpathCommand},
    {"xpointer", "list the nodes a same-document XPointer selects in a document",
     amxml::xpointerCommand},
    {"verify", "check the XML signatures of a document with the keys given", amxml::verifyCommand},
};

void printUsage(std::FILE* to) {
    std::fputs(
        "usage: amxml COMMAND [OPTIONS] [ARGUMENTS]\n"
        "       amxml --help\n"
        "\n"
        "Commands:\n",
        to);
    for (const amxml::Command& c : kCommands) std::fprintf(to, "  %-12s%s\n", c.name, c.summary);
    std::fputs(
        "\n"
        "'amxml COMMAND --help' describes a command. Output goes to standard output unchanged.\n"
        "Exit status: 0 on success, 1 on failure (a library exception is printed on standard\n"
        "error on one line), 2 on a usage error.\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("amxml: no command given\n", stderr);
        printUsage(stderr);
        return amxml::USAGE;
    }
    if (amxml::isHelp(argv[1])) {
        printUsage(stdout);
        return amxml::SUCCESS;
    }
    for (const amxml::Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        try {
            Ambrite::XML::DOMUtil::Init init;
            return c.run(argc - 2, argv + 2);
        } catch (const Ambrite::XML::Exception& e) {
            std::ostringstream text;
            text << e;
            std::cerr << amxml::printable(text.str(), true) << std::endl;
            return amxml::FAILURE;
        }
    }
    std::fprintf(stderr, "amxml: unknown command '%s'\n", amxml::printable(argv[1], false).c_str());
    printUsage(stderr);
    return amxml::USAGE;
}
