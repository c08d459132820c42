#include <ostream>
#include <string>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {
const char* placeName(const char* file) { return file ? file : "<unknown>"; }
}  // namespace

Exception::Exception(int id, const char* message)
    : id_(id), message_("%s", message ? message : "") {}

Exception::Exception(const char* file, unsigned int line, int id, const char* message)
    : id_(id), message_("%s", message ? message : "") {
    where_.push_back(Place(placeName(file), line));
}

Exception::Exception(int id, const Format& message) : id_(id), message_(message) {}

Exception::Exception(const char* file, unsigned int line, int id, const Format& message)
    : id_(id), message_(message) {
    where_.push_back(Place(placeName(file), line));
}

Exception::Exception(const Exception& other)
    : where_(other.where_), id_(other.id_), message_(other.message_) {}

Exception::Exception(const char* file, unsigned int line, const Exception& cause)
    : where_(cause.where_), id_(cause.id_), message_(cause.message_) {
    where_.push_back(Place(placeName(file), line));
}

Exception::~Exception() {}

std::ostream& operator<<(std::ostream& out, const Exception& e) {
    out << "Ambrite::XML::Exception";
    if (e.id() != 0) out << ' ' << std::to_string(e.id());
    out << ": " << e.what();
    const std::vector<Exception::Place>& where = e.where();
    for (std::size_t i = 0; i < where.size(); ++i) {
        out << (i == 0 ? " (in " : "; called from ") << where[i].key << " line "
            << std::to_string(where[i].value);
    }
    if (!where.empty()) out << ')';
    return out;
}

}  // namespace XML
}  // namespace Ambrite
