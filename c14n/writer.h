// The canonicalizer's output: fixed pieces, names and escaped values into a character sink.
#ifndef AMBRITE_XML_C14N_WRITER_H
#define AMBRITE_XML_C14N_WRITER_H

#include <ambrite/xml/dom.h>
#include <ambrite/xml/streams.h>

namespace Ambrite {
namespace XML {
namespace C14n {
namespace detail {

class Writer {
public:
    explicit Writer(CharacterSink& sink) : sink_(sink) {}

    /// A fixed piece of markup, n units.
    void piece(const XMLCh* s, unsigned int n) { sink_.write(s, n); }
    /// A name or unescaped data taken from the DOM.
    void name(const XMLCh* s) { sink_.write(s); }
    void text(const XMLCh* s) { escapeText(s, sink_); }
    void attr(const XMLCh* s) { escapeAttr(s, sink_); }

private:
    CharacterSink& sink_;
};

}  // namespace detail
}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite

#endif
