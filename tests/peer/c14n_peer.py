#!/usr/bin/python3
"""Compares the canonical XML written by `amxml c14n` with libxml2's on generated documents.

Every configuration runs amxml twice: streaming (its default, canonicalizing as the input is
read) and with --dom (from a parsed document); both outputs are compared with the peers.

Peers (all libxml2):
  - xmllint --c14n / --exc-c14n: whole documents, inclusive and exclusive, with comments;
  - lxml etree.tostring(method="c14n"): whole documents and element subtrees in all four
    modes, with and without InclusiveNamespaces prefixes;
  - libxml2's xmlC14NDocDumpMemory called through ctypes with an XPath node set: document
    subsets (an apex subtree, or the whole document, minus excluded subtrees), which is what
    `amxml c14n --apex/--exclude` describes.

Documents come from a deterministic generator (one seed per document), so a failure can be
reproduced with --first/--count. Failing documents are saved with a diff summary under
WORK/failures. The exit status is 0 only when every comparison agreed and every expected
failure (relative namespace URIs) happened; a missing peer is an error, never a skip.

Run with Debian's /usr/bin/python3, which has python3-lxml.
"""

import argparse
import concurrent.futures
import ctypes
import os
import random
import shutil
import subprocess
import sys
import time

try:
    from lxml import etree
except ImportError:  # the peer is part of the test set-up; its absence is a failure
    sys.stderr.write("c14n_peer: FAILED: lxml is not importable by %s; install python3-lxml "
                     "(scripts/setup.sh does)\n" % sys.executable)
    sys.exit(2)

XML_NS = "http://www.w3.org/XML/1998/namespace"

MODES = [  # (name, exclusive, with comments)
    ("c14n", False, False),
    ("c14n-comments", False, True),
    ("exc-c14n", True, False),
    ("exc-c14n-comments", True, True),
]


# --------------------------------------------------------------------------------------------
# Document generator
# --------------------------------------------------------------------------------------------

# Namespace names. All are absolute ASCII URI references without "&": libxml2's canonicalizer
# refuses namespace names its URI parser rejects (non-ASCII characters, for instance), and it
# writes namespace declarations without escaping their values, so a namespace name holding
# "&" comes out as a bare "&". Canonical XML 1.0 processes a namespace node "in the same way
# as an attribute node", whose value has "&" replaced by "&amp;"; the library does that, the
# peer does not, so such names cannot be compared.
URIS = [
    "urn:a", "urn:b", "urn:A", "urn:x:y:z", "http://example.com/", "http://example.com/ns",
    "http://example.com/ns/", "http://example.com/ns#frag", "http://www.w3.org/2000/09/xmldsig#",
    "mailto:someone@example.com", "urn:a%20b", "http://example.com/?a=1;b=2",
    "http://example.com/it's", "urn:z", "urn:zz", "ftp://example.org/x",
]
RELATIVE_URIS = ["relative", "../up/ns", "dir/ns", "ns#frag"]
PREFIXES = ["a", "b", "c", "p", "q", "x", "y", "z", "A", "Z", "ns1", "ns10", "ns2", "é", "pré"]
ELEMENT_NAMES = ["r", "a", "b", "item", "e-1", "x.y", "_u", "Z", "é", "名", "data", "sig"]
ATTR_NAMES = ["a", "b", "c", "id", "z", "A", "Z", "_", "b2", "a.b", "a-b", "é", "ü", "名",
              "xmlfoo", "Id"]
# Names that sort differently by UTF-16 code units and by code points (a character of
# U+E000..U+FFFF against one above U+FFFF). Xerces accepts them as names.
HIGH_NAMES = ["\uFF21", "\U00010400", "\uFB01x", "\U00020000y", "\uF900"]
XML_ATTRS = [
    ("lang", ["en", "fr", "", "de-CH", "en-GB"]),
    ("space", ["preserve", "default"]),
    ("base", ["http://example.com/base/", "sub/", "../up/", "#f"]),
    ("id", ["i", "x-y"]),
    ("foo", ["bar"]),
]
PI_TARGETS = ["pi", "xml-stylesheet", "target-x", "é", "p.q"]
PI_DATA = ["", "data", "  leading spaces", "trailing  ", "a?b", "<not> &amp; markup", "d\r\ne",
           "\U0001F600", "x\ty"]
COMMENTS = ["", " c ", "a-b", "&amp; <x> ]]>", "é\U0001D11E", "line\r\nbreak\rcr", " - ",
            "\t"]

# Pieces of element content, written as-is into the document. No piece ends with "]", so
# no "]]>" can form across pieces.
TEXT_PIECES = [
    "plain", "two words", " ", "  ", "\t", "\n", "\r", "\r\n", "\n\n", "&#13;", "&#xD;",
    "&#10;", "&#9;", "&amp;", "&lt;", "&gt;", ">", "\"", "'", "&quot;", "&apos;", "]]&gt;",
    "é", "日本語", "\u00a0", "\uFFFD", "\uE000", "\u0085", "\u2028", "\U0001F600",
    "\U0001D11E", "&#x1F600;", "&#128512;", "&#x10FFFF;", "&#65533;", "a&amp;&amp;b",
    "x&lt;y&gt;z", "&#38;", "&#60;", "&#x3E;", "]x", "]]x",
]
# Pieces of attribute values, without the quote character, which is added per quote style.
ATTR_PIECES = [
    "plain", "two words", " ", "   ", "\t", "\n", "\r\n", "\r", "&#9;", "&#10;", "&#13;",
    "&#xD;", "&#xA;", "&amp;", "&lt;", ">", "&gt;", "&quot;", "&apos;", "é", "日本",
    "\U0001F600", "&#x1F600;", "\uFFFD", "&#38;", "&#60;", "&#x22;", "&#39;", "a&amp;b",
]
CDATA_PIECES = ["plain", "<tag>", "&amp;", "&", "]]", "]", ">", "\r\n", "\r", "\t", "é",
                "\U0001F600", "'\"", " ", "]>"]

# Internal general entities. Replacement texts avoid character references to a carriage
# return: libxml2 turns a carriage return that reaches content through an entity's
# replacement text into a line feed, whereas XML 1.0 normalizes line ends only on the input
# of parsed entities, and a character reference in an entity value puts the referenced
# character itself into the replacement text (Xerces keeps it). That is a parser
# difference, not a canonicalization one.
TEXT_ENTITIES = [  # (name, entity value as written in the declaration)
    ("t1", "text &amp;amp; more"),
    ("t2", "&#x1F600; and &#233;"),
    ("t3", "  spaced\ttab  "),
    ("t4", "quote \" and apos '"),
    ("t5", "&#38;#60;not a tag&#38;#62;"),
    ("t6", "line\r\nbreak"),
    ("t7", "gt &gt; &#62;"),
]
# Entities whose replacement text holds markup (for element content only). Elements inside
# them become children of entity reference nodes in Xerces' DOM, so child sequences differ
# between the two trees; such documents are only compared as whole documents.
MARKUP_ENTITIES = [
    ("m1", "<em xmlns='urn:m' m='&#38;#60;'>in &#x1F600; entity</em>"),
    ("m2", "<!--in entity--><?pe data?>text"),
    ("m3", "<b>bold</b> tail &amp;amp; <![CDATA[<cdata>]]>"),
]


class Element:
    __slots__ = ("qname", "attrs", "children", "empty_tag")

    def __init__(self, qname):
        self.qname = qname
        self.attrs = []  # (raw name, raw value text with quotes)
        self.children = []  # strings (raw markup) or Element
        self.empty_tag = False


class Document:
    def __init__(self, seed, kind):
        self.seed = seed
        self.kind = kind
        self.data = b""
        self.relative = False  # expected to fail in the library (relative namespace URI)
        self.markup_entities = False  # child sequences differ between Xerces and libxml2
        self.prefixes = set()  # prefixes declared somewhere, for InclusiveNamespaces lists
        self.features = set()


class Generator:
    """Builds one document from a seed. The kind is chosen from the seed so that every few
    seeds cover every kind."""

    KINDS = ["mixed", "namespaces", "mixed", "dtd", "escapes", "namespaces", "mixed", "xmlattrs",
             "mixed", "wide", "namespaces", "dtd", "mixed", "escapes", "namespaces", "deep",
             "mixed", "long", "relative", "mixed", "highnames", "namespaces", "utf16", "dtd"]

    def __init__(self, seed):
        self.seed = seed
        self.r = random.Random(seed * 7919 + 17)
        self.kind = self.KINDS[seed % len(self.KINDS)]
        r = self.r
        self.doc = Document(seed, self.kind)
        ns_heavy = self.kind in ("namespaces", "relative", "deep")
        self.p_decl = r.uniform(0.3, 0.7) if ns_heavy else r.uniform(0.05, 0.35)
        self.p_prefixed_el = r.uniform(0.2, 0.6) if ns_heavy else r.uniform(0.0, 0.3)
        self.p_prefixed_attr = r.uniform(0.2, 0.6) if ns_heavy else r.uniform(0.0, 0.3)
        self.p_xml_attr = 0.3 if self.kind == "xmlattrs" else r.uniform(0.0, 0.15)
        self.max_attrs = 12 if self.kind == "wide" else r.choice([0, 2, 3, 5])
        self.max_children = 30 if self.kind == "wide" else r.choice([3, 4, 6, 8])
        self.max_depth = r.choice([3, 4, 5, 6, 8])
        self.max_nodes = 400 if self.kind == "wide" else 150
        self.nodes = 0
        self.ids = 0
        self.p_escape = 0.7 if self.kind == "escapes" else 0.3
        self.entities = []  # (name, markup?) declared in the internal subset
        self.dtd_prefix = False  # the subset defaults attributes with the prefix "dp"
        self.element_names = list(ELEMENT_NAMES)
        self.attr_names = list(ATTR_NAMES)
        self.prefix_names = list(PREFIXES)
        if self.kind == "highnames":
            # Mostly such names, so that elements carry several of them.
            self.element_names += HIGH_NAMES
            self.attr_names = HIGH_NAMES * 3 + self.attr_names
            self.prefix_names += HIGH_NAMES
            self.max_attrs = max(self.max_attrs, 4)
            self.doc.features.add("high-names")

    # ---- small pieces ------------------------------------------------------------------

    def text(self, n=None):
        r = self.r
        n = n if n is not None else r.choice([1, 1, 2, 3, 5, 8])
        out = []
        for _ in range(n):
            if r.random() < self.p_escape:
                out.append(r.choice(TEXT_PIECES))
            elif self.entities and r.random() < 0.15:
                name, markup = r.choice(self.entities)
                out.append("&%s;" % name)
                if markup:
                    self.doc.markup_entities = True
            else:
                out.append(r.choice(["word", "x", "Text", "é", "1 2", "a b c"]))
        return "".join(out)

    def attr_value(self, quote):
        r = self.r
        out = []
        for _ in range(r.choice([0, 1, 1, 2, 3, 5])):
            if r.random() < self.p_escape:
                out.append(r.choice(ATTR_PIECES))
            elif r.random() < 0.1 and any(not m for _, m in self.entities):
                out.append("&%s;" % r.choice([e for e, m in self.entities if not m]))
            else:
                out.append(r.choice(["v", "value", "1", "é", "a b"]))
            if r.random() < 0.2:
                out.append("'" if quote == '"' else '"')
        return "".join(out)

    def comment(self):
        return "<!--%s-->" % self.r.choice(COMMENTS)

    def pi(self):
        r = self.r
        data = r.choice(PI_DATA)
        target = r.choice(PI_TARGETS)
        return "<?%s%s?>" % (target, (" " + data) if data else r.choice(["", " "]))

    def cdata(self):
        r = self.r
        body = "".join(r.choice(CDATA_PIECES) for _ in range(r.choice([0, 1, 2, 4])))
        while "]]>" in body:
            body = body.replace("]]>", "]>")
        return "<![CDATA[%s]]>" % body

    def uri(self):
        return self.r.choice(URIS)

    # ---- elements ----------------------------------------------------------------------

    def declare(self, decls, scope, prefix, uri):
        decls[prefix] = uri
        scope[prefix] = uri if uri else None
        if prefix:
            self.doc.prefixes.add(prefix)

    def element(self, depth, scope, name_hint=None, relative_here=False):
        """Builds an element whose parent's in-scope namespaces are `scope` (prefix -> URI,
        "" for the default namespace, None when undeclared)."""
        r = self.r
        self.nodes += 1
        scope = dict(scope)
        decls = {}  # prefix ("" = default) -> value ("" undeclares the default)
        if r.random() < self.p_decl:
            for _ in range(r.choice([1, 1, 2, 3])):
                p = r.choice(self.prefix_names + ["", ""])
                if p in decls:
                    continue
                if p == "":
                    choice = r.random()
                    if choice < 0.3:
                        value = ""  # undeclare (or redundantly declare no) default
                    elif choice < 0.45 and scope.get(""):
                        value = scope[""]  # redundant redeclaration
                    else:
                        value = self.uri()
                else:
                    value = scope[p] if scope.get(p) and r.random() < 0.3 else self.uri()
                self.declare(decls, scope, p, value)
        if r.random() < 0.03:
            # The xml prefix may be declared, with its own namespace name only.
            decls["xml"] = XML_NS
        # Element name.
        local = name_hint or r.choice(self.element_names)
        prefix = ""
        if relative_here:
            prefix = r.choice(["", "rel"])
            self.declare(decls, scope, prefix, r.choice(RELATIVE_URIS))
        elif r.random() < self.p_prefixed_el:
            bound = [p for p, u in scope.items() if p and u]
            if bound and r.random() < 0.7:
                prefix = r.choice(bound)
            else:
                prefix = r.choice(self.prefix_names)
                if prefix not in decls:
                    self.declare(decls, scope, prefix, self.uri())
        qname = "%s:%s" % (prefix, local) if prefix else local
        el = Element(qname)
        # Prefixes this element uses; a later declaration must not rebind them.
        used_prefixes = {prefix}
        # Attributes.
        attrs = []  # (name, value)
        used = set()  # expanded names: (namespace or "", local)
        for _ in range(r.randint(0, self.max_attrs)):
            kind = r.random()
            if kind < self.p_xml_attr:
                lname, values = r.choice(XML_ATTRS)
                key = (XML_NS, lname)
                name = "xml:" + lname
                value = r.choice(values)
                if lname == "id":
                    # libxml2 rejects a repeated xml:id value; keep them unique.
                    self.ids += 1
                    value = "%s%d" % (value, self.ids)
            elif kind < self.p_xml_attr + self.p_prefixed_attr:
                bound = [p for p, u in scope.items() if p and u]
                if bound and r.random() < 0.6:
                    p = r.choice(bound)
                else:
                    p = r.choice(self.prefix_names)
                    if p not in decls:
                        if p in used_prefixes:
                            continue
                        self.declare(decls, scope, p, self.uri())
                used_prefixes.add(p)
                lname = r.choice(self.attr_names)
                key = (scope[p], lname)
                name = "%s:%s" % (p, lname)
                value = None
            else:
                lname = r.choice(self.attr_names)
                key = ("", lname)
                name = lname
                value = None
            if key in used:
                continue
            used.add(key)
            attrs.append((name, value))
        # Prefixes declared on ancestors and used only here, in attributes, come for free:
        # "bound" above draws from the whole scope.
        items = []
        for name, value in attrs:
            quote = r.choice(['"', "'"])
            if value is None:
                value = self.attr_value(quote)
            else:
                value = value.replace("&", "&amp;")
            items.append((name, quote, value))
        for p, u in decls.items():
            name = "xmlns:%s" % p if p else "xmlns"
            quote = r.choice(['"', "'"])
            value = u.replace("&", "&amp;")
            value = value.replace(quote, "&quot;" if quote == '"' else "&apos;")
            items.append((name, quote, value))
        r.shuffle(items)
        for name, quote, value in items:
            if quote == '"':
                value = value.replace('"', "&quot;")
            else:
                value = value.replace("'", "&apos;")
            el.attrs.append((name, quote + value + quote))
        # Content.
        wants_content = depth == 0 or r.random() < 0.8
        if depth < self.max_depth and self.nodes < self.max_nodes and wants_content:
            for _ in range(r.randint(2 if depth == 0 else 0, self.max_children)):
                if self.nodes >= self.max_nodes:
                    break
                c = r.random()
                if c < 0.45:
                    el.children.append(self.element(depth + 1, scope))
                elif c < 0.65:
                    el.children.append(self.text())
                elif c < 0.72:
                    el.children.append(self.comment())
                elif c < 0.78:
                    el.children.append(self.pi())
                elif c < 0.85:
                    el.children.append(self.cdata())
                elif c < 0.9 and self.entities:
                    name, markup = r.choice(self.entities)
                    el.children.append("&%s;" % name)
                    if markup:
                        self.doc.markup_entities = True
                elif c < 0.95:
                    el.children.append(r.choice([" ", "\n", "\n  ", "\t", "\r\n", "  \r\n  "]))
                else:
                    el.children.append(self.element(depth + 1, scope))
        el.empty_tag = not el.children and r.random() < 0.6
        return el

    def deep_chain(self, scope):
        """About a thousand nested elements, with namespaces and xml: attributes changing on
        the way down and text at several levels."""
        r = self.r
        depth = r.randint(900, 1100)
        root = None
        parent = None
        chain = []
        for level in range(depth):
            self.max_depth = 0  # no random subtrees below chain elements
            el = self.element(0, scope) if r.random() < 0.2 else Element(r.choice("abc"))
            names = {name for name, _ in el.attrs}
            if r.random() < 0.05 and "xmlns" not in names:
                el.attrs.append(("xmlns", '"%s"' % r.choice(["", "urn:d%d" % level])))
            if r.random() < 0.03 and "xml:lang" not in names:
                el.attrs.append(("xml:lang", '"l%d"' % level))
            el.empty_tag = False
            if parent is None:
                root = el
            else:
                if r.random() < 0.1:
                    parent.children.append(self.text(1))
                parent.children.append(el)
                if r.random() < 0.1:
                    parent.children.append(self.text(1))
            chain.append(el)
            parent = el
        parent.children.append("bottom")
        return root

    def long_root(self, scope):
        r = self.r
        el = self.element(0, scope)
        pieces = []
        for _ in range(r.randint(20000, 40000)):
            pieces.append(r.choice(TEXT_PIECES) if r.random() < 0.3 else "word ")
        el.children.insert(0, "".join(pieces))
        el.attrs.append(("long", '"%s"' % "".join(
            r.choice(["v ", "&amp;", "&#9;", "&lt;", "&#13;", ">", "é"]) for _ in range(5000))))
        el.empty_tag = False
        return el

    def dtd(self, root_name):
        """An internal subset with internal entities and attribute-list declarations."""
        r = self.r
        lines = []
        for name, value in r.sample(TEXT_ENTITIES, r.randint(1, len(TEXT_ENTITIES))):
            lines.append('<!ENTITY %s "%s">' % (name, value.replace('"', "&#34;")))
            self.entities.append((name, False))
        if r.random() < 0.6:
            for name, value in r.sample(MARKUP_ENTITIES, r.randint(1, len(MARKUP_ENTITIES))):
                lines.append('<!ENTITY %s "%s">' % (name, value))
                self.entities.append((name, True))
        # Default and fixed attributes. Prefixed ones use "dp", which the document element
        # binds and no element rebinds. A defaulted namespace declaration that changes a name's
        # namespace is refused by the library's parser (its scanner would not apply it).
        targets = r.sample(self.element_names[:8], r.randint(1, 4))
        prefixed = r.random() < 0.5
        # One attribute-list declaration per element: Xerces warns about an attribute declared
        # twice, and the library treats parser warnings as errors.
        for el_name in targets + ([root_name] if root_name not in targets else []):
            decl = []
            for a in r.sample(["dflt", "fix", "imp", "tok", "toks", "b", "c", "en", "Z"], 3):
                if a == "dflt":
                    decl.append('dflt CDATA "%s"' % r.choice(["d v", "  sp  ", "&amp;&lt;", ""]))
                elif a == "fix":
                    decl.append('fix CDATA #FIXED "fixed&#9;tab"')
                elif a == "imp":
                    decl.append("imp CDATA #IMPLIED")
                elif a == "tok":
                    decl.append('tok NMTOKEN "  t1  "')
                elif a == "toks":
                    decl.append('toks NMTOKENS "  a   b  c "')
                elif a == "b":
                    # Typed attributes that the documents also specify: their values are
                    # normalized (spaces collapsed, leading and trailing ones dropped).
                    decl.append("b NMTOKENS #IMPLIED")
                elif a == "c":
                    decl.append('c NMTOKEN "dc"')
                elif a == "en":
                    decl.append('en (x|y|z) "y"')
                else:
                    decl.append('Z CDATA "zz"')
            # libxml2 drops the namespace of a defaulted prefixed attribute on an element
            # that comes from an entity's replacement text (writing Z="" beside Z="zz"), so
            # "b", which m3 makes, gets none.
            if prefixed and el_name != "b" and r.random() < 0.7:
                decl.append('dp:%s CDATA "%s"' % (r.choice(["d", "a", "Z"]), r.choice(["p v", ""])))
                self.dtd_prefix = True
            lines.append("<!ATTLIST %s %s>" % (el_name, " ".join(decl)))
            self.doc.features.add("attlist")
        if r.random() < 0.2:
            # A defaulted declaration of a prefix that no element or attribute uses.
            lines.append('<!ATTLIST %s xmlns:unused CDATA #FIXED "urn:unused">' % root_name)
        lines.append("<!-- comment in the subset --><?pi-in-subset x?>")
        r.shuffle(lines)
        sep = r.choice(["\n", "", " "])
        # Sometimes an external subset too, which no parser here finds: it must change nothing.
        external = r.choice(["", "", ' SYSTEM "amxml-missing.dtd"',
                             ' PUBLIC "-//amxml//missing" "amxml-missing.dtd"'])
        return "<!DOCTYPE %s%s [%s%s%s]>" % (root_name, external, sep, sep.join(lines), sep)

    # ---- whole document ----------------------------------------------------------------

    def misc(self):
        r = self.r
        out = []
        for _ in range(r.choice([0, 0, 1, 2, 3])):
            c = r.random()
            if c < 0.4:
                out.append(self.comment())
            elif c < 0.8:
                out.append(self.pi())
            else:
                out.append(r.choice(["\n", " ", "\r\n", "\t"]))
            if r.random() < 0.5:
                out.append(r.choice(["\n", " ", "\r\n"]))
        return "".join(out)

    def build(self):
        r = self.r
        kind = self.kind
        doc = self.doc
        scope = {"": None}
        prolog = []
        if r.random() < 0.6 or kind == "utf16":
            prolog.append(r.choice([
                '<?xml version="1.0"?>', '<?xml version="1.0" encoding="UTF-8"?>',
                "<?xml version='1.0' encoding='utf-8' standalone='yes'?>",
                '<?xml version="1.0" standalone="no" ?>']))
            if kind == "utf16":
                prolog[-1] = '<?xml version="1.0" encoding="UTF-16"?>'
            prolog.append(r.choice(["", "\n", "\r\n"]))
        root_name = r.choice(self.element_names[:6])
        if kind == "dtd" or (kind in ("mixed", "escapes") and r.random() < 0.25):
            prolog.append(r.choice(["", self.misc()]))
            prolog.append(self.dtd(root_name))
            doc.features.add("dtd")
        prolog.append(self.misc())
        if kind == "deep":
            root = self.deep_chain(scope)
        elif kind == "long":
            root = self.long_root(scope)
        elif kind == "relative":
            # The document element's own namespace is relative, so every mode, exclusive
            # ones included, must bind it and fail.
            root = self.element(0, scope, relative_here=True)
            doc.relative = True
        else:
            root = self.element(0, scope, name_hint=root_name if "dtd" in doc.features else None)
        if self.dtd_prefix:
            root.attrs.append(("xmlns:dp", '"urn:dp"'))
            doc.prefixes.add("dp")
        epilog = self.misc()
        parts = prolog + [None, epilog]
        out = []
        for part in parts:
            if part is None:
                self.write(root, out)
            else:
                out.append(part)
        text = "".join(out)
        doc.data = text.encode("utf-16") if kind == "utf16" else text.encode("utf-8")
        return doc

    def write(self, root, out):
        """Writes the tree iteratively (deep documents exceed Python's recursion limit)."""
        r = self.r
        stack = [(root, False)]
        while stack:
            node, closing = stack.pop()
            if isinstance(node, str):
                out.append(node)
                continue
            if closing:
                out.append("</%s%s>" % (node.qname, r.choice(["", "", " ", "\n"])))
                continue
            out.append("<" + node.qname)
            for name, value in node.attrs:
                out.append(r.choice([" ", " ", "\n  ", "\t", "  "]))
                out.append(name + r.choice(["=", "=", " = "]) + value)
            if node.empty_tag:
                out.append(r.choice(["/>", " />"]))
                continue
            out.append(">")
            stack.append((node, True))
            for child in reversed(node.children):
                stack.append((child, False))


# --------------------------------------------------------------------------------------------
# Peers
# --------------------------------------------------------------------------------------------

XML_PARSE_NOENT = 1 << 1
XML_PARSE_DTDLOAD = 1 << 2
XML_PARSE_DTDATTR = 1 << 3
XML_PARSE_NONET = 1 << 11
XML_PARSE_HUGE = 1 << 19
# The options xmllint uses for --c14n (entities substituted, default attributes added), plus
# no network and no depth limit.
LIBXML_OPTIONS = (XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_DTDATTR | XML_PARSE_NONET |
                  XML_PARSE_HUGE)


class LibXML2:
    """libxml2's document-subset canonicalization through its C interface: parse, evaluate
    XPath expressions to node sets (with namespace nodes), canonicalize a node set."""

    class _XPathObject(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("nodesetval", ctypes.c_void_p)]

    def __init__(self):
        lib = ctypes.CDLL("libxml2.so.2")
        vp = ctypes.c_void_p
        lib.xmlReadMemory.restype = vp
        lib.xmlReadMemory.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p,
                                      ctypes.c_char_p, ctypes.c_int]
        lib.xmlFreeDoc.argtypes = [vp]
        lib.xmlXPathNewContext.restype = vp
        lib.xmlXPathNewContext.argtypes = [vp]
        lib.xmlXPathFreeContext.argtypes = [vp]
        lib.xmlXPathEvalExpression.restype = vp
        lib.xmlXPathEvalExpression.argtypes = [ctypes.c_char_p, vp]
        lib.xmlXPathFreeObject.argtypes = [vp]
        lib.xmlXPathDifference.restype = vp
        lib.xmlXPathDifference.argtypes = [vp, vp]
        lib.xmlXPathFreeNodeSet.argtypes = [vp]
        lib.xmlC14NDocDumpMemory.restype = ctypes.c_int
        lib.xmlC14NDocDumpMemory.argtypes = [vp, vp, ctypes.c_int,
                                             ctypes.POINTER(ctypes.c_char_p), ctypes.c_int,
                                             ctypes.POINTER(vp)]
        lib.xmlSetStructuredErrorFunc.argtypes = [vp, vp]
        self.lib = lib
        self.free = ctypes.CFUNCTYPE(None, vp)(vp.in_dll(lib, "xmlFree").value)
        # Keep libxml2's diagnostics (warnings about namespace URIs, for instance) quiet.
        self._silence = ctypes.CFUNCTYPE(None, vp, vp)(lambda ctx, err: None)
        lib.xmlSetStructuredErrorFunc(None, ctypes.cast(self._silence, vp))

    def canonicalize(self, data, apex, excludes, exclusive, comments, prefixes, whole=False):
        """Canonical form of the subtree of the element at locator `apex` (the whole
        document when None) minus the subtrees at the `excludes` locators, as a node set of
        every node, attribute and namespace node, the way XML Signature describes subsets.
        With `whole`, the document is canonicalized without a node set. None when libxml2
        fails."""
        lib = self.lib
        doc = lib.xmlReadMemory(data, len(data), b"doc.xml", None, LIBXML_OPTIONS)
        if not doc:
            return None
        ctx = None
        objects = []
        difference = None
        try:
            nodes = None
            if not whole:
                ctx = lib.xmlXPathNewContext(doc)

                def evaluate(expression):
                    obj = lib.xmlXPathEvalExpression(expression.encode("utf-8"), ctx)
                    if not obj:
                        raise RuntimeError("libxml2 could not evaluate " + expression)
                    objects.append(obj)
                    return self._XPathObject.from_address(obj).nodesetval

                nodes = evaluate(subtree_expression([apex] if apex else None))
                if excludes:
                    # XPath 1.0 has no set difference; libxml2's own does it (namespace
                    # nodes are matched by parent element and prefix).
                    difference = lib.xmlXPathDifference(
                        nodes, evaluate(subtree_expression(excludes)))
                    if difference == nodes:
                        difference = None
                    else:
                        nodes = difference
            array = None
            if prefixes is not None:
                array = (ctypes.c_char_p * (len(prefixes) + 1))(
                    *[p.encode("utf-8") for p in prefixes], None)
            out = ctypes.c_void_p()
            n = lib.xmlC14NDocDumpMemory(doc, nodes, 1 if exclusive else 0, array,
                                         1 if comments else 0, ctypes.byref(out))
            if n < 0:
                return None
            result = ctypes.string_at(out, n)
            self.free(out)
            return result
        finally:
            if difference:
                lib.xmlXPathFreeNodeSet(difference)
            for obj in objects:
                lib.xmlXPathFreeObject(obj)
            if ctx:
                lib.xmlXPathFreeContext(ctx)
            lib.xmlFreeDoc(doc)


def lxml_parser():
    return etree.XMLParser(resolve_entities=True, attribute_defaults=True, load_dtd=True,
                           no_network=True, huge_tree=True, remove_blank_text=False,
                           remove_comments=False, remove_pis=False, strip_cdata=True)


def is_element(node):
    return isinstance(node.tag, str)


def element_children(node):
    return [c for c in node if is_element(c)]


def locator_of(el):
    steps = []
    while el.getparent() is not None:
        parent = el.getparent()
        steps.append(element_children(parent).index(el) + 1)
        el = parent
    steps.append(1)
    return "/" + "/".join(str(s) for s in reversed(steps))


def xpath_of(locator):
    return "".join("/*[%s]" % s for s in locator.strip("/").split("/"))


def subtree_expression(locators):
    """An XPath expression for every node, attribute and namespace node of the subtrees of
    the elements at `locators` (of the whole document when None)."""
    if not locators:
        return "(//. | //@* | //namespace::*)"
    return " | ".join(
        "%s/descendant-or-self::node() | %s/descendant-or-self::*/@* | "
        "%s/descendant-or-self::*/namespace::*" % ((xpath_of(x),) * 3) for x in locators)


def lxml_applies(apex, exclusive, prefixes):
    """Whether lxml's canonicalization can serve as an oracle for this case.

    - lxml passes on only those InclusiveNamespaces prefixes that occur in the document's
      name dictionary, so "#default" is silently dropped.
    - For a subtree, lxml builds a temporary document whose root is a copy of the apex with
      its ancestors' namespace declarations added, while the descendants still refer to the
      original declarations. libxml2's inclusive canonicalizer then goes wrong on that tree:
      it writes xmlns="" on grandchildren of the apex that are in a default namespace
      declared on the apex or above it (<r xmlns="urn:d"><m><c><a><b/></a></c></m></r> with
      apex c gives <b xmlns="">, which would move b out of its namespace), and in deeper
      trees it repeats declarations that an output ancestor already wrote with the same
      value. Canonical XML 1.0 ignores a namespace node whose nearest output ancestor has
      one with the same name and value, so both are lxml artifacts; libxml2's own node-set
      canonicalization gets them right and is the oracle for inclusive subtrees. Whole
      documents (also minus excluded subtrees) are canonicalized on the real tree.
    """
    if prefixes is not None and "#default" in prefixes:
        return False
    return exclusive or apex is None


def lxml_subtree(data, apex, excludes, exclusive, comments, prefixes):
    """lxml's canonical form of the element `apex` (a locator; the whole document when None)
    in a fresh tree from which the `excludes` have been removed. (A fresh parse rather than a
    deep copy: lxml's copy of a tree reverses the comments and processing instructions that
    follow the document element.) Used for exclusive subtrees and whole documents only (see
    lxml_applies); an inclusive subtree would also lack the xml: attributes that Canonical
    XML 1.0 lets an apex inherit from its ancestors, as lxml canonicalizes the subtree as a
    document of its own."""
    tree = etree.ElementTree(etree.fromstring(data, lxml_parser()))
    root = tree.getroot()

    def find(locator):
        el = root
        for step in locator.strip("/").split("/")[1:]:
            el = element_children(el)[int(step) - 1]
        return el

    target = find(apex) if apex else None
    doomed = [find(x) for x in excludes]
    for el in doomed:
        if any(a in doomed for a in el.iterancestors()):
            continue  # goes with its excluded ancestor
        # Text after the removed element stays: lxml keeps it in the element's tail, and
        # removing the element takes the tail along.
        if el.tail:
            prev = el.getprevious()
            if prev is not None:
                prev.tail = (prev.tail or "") + el.tail
            else:
                parent = el.getparent()
                parent.text = (parent.text or "") + el.tail
            el.tail = None
        el.getparent().remove(el)
    node = target if target is not None else tree
    return etree.tostring(node, method="c14n", exclusive=exclusive, with_comments=comments,
                          inclusive_ns_prefixes=prefixes)


# --------------------------------------------------------------------------------------------
# Driver
# --------------------------------------------------------------------------------------------


class Run:
    def __init__(self, args):
        self.args = args
        self.amxml = args.amxml
        self.work = args.work
        self.failures = os.path.join(self.work, "failures")
        self.libxml2 = LibXML2()
        self.stats = {"documents": 0, "compared documents": 0, "relative-URI documents": 0,
                      "amxml runs": 0, "comparisons": 0, "mismatches": 0,
                      "peer disagreements": 0, "errors": 0,
                      "lxml not applicable": 0}
        self.by_config = {}
        self.failed_docs = set()

    # ---- bookkeeping ---------------------------------------------------------------------

    def count(self, config, ok):
        total, bad = self.by_config.get(config, (0, 0))
        self.by_config[config] = (total + 1, bad + (0 if ok else 1))

    def save(self, doc, name, text):
        d = os.path.join(self.failures, "%06d-%s" % (doc.seed, doc.kind))
        if doc.seed not in self.failed_docs:
            self.failed_docs.add(doc.seed)
            os.makedirs(d, exist_ok=True)
            with open(os.path.join(d, "doc.xml"), "wb") as f:
                f.write(doc.data)
        with open(os.path.join(d, name + ".txt"), "w", encoding="utf-8",
                  errors="backslashreplace") as f:
            f.write(text)

    @staticmethod
    def diff_summary(expected, actual):
        n = 0
        while n < min(len(expected), len(actual)) and expected[n] == actual[n]:
            n += 1
        lo = max(0, n - 60)
        return ("first difference at byte %d (expected %d bytes, got %d)\n"
                "  expected: ...%r...\n  amxml:    ...%r...\n"
                % (n, len(expected), len(actual), expected[lo:n + 60], actual[lo:n + 60]))

    def report(self, doc, config, command, expected, actual, peer):
        self.stats["mismatches"] += 1
        summary = self.diff_summary(expected, actual)
        self.save(doc, config.replace("/", "_").replace(" ", "_"),
                  "configuration: %s\npeer: %s\namxml command: %s\n%s\n"
                  "expected (%s):\n%s\n\namxml:\n%s\n"
                  % (config, peer, " ".join(command), summary, peer,
                     expected.decode("utf-8", "backslashreplace"),
                     actual.decode("utf-8", "backslashreplace")))
        if self.args.verbose or self.stats["mismatches"] <= 10:
            print("MISMATCH seed %d (%s) %s vs %s: %s" % (doc.seed, doc.kind, config, peer,
                                                       summary.splitlines()[0]))

    def error(self, doc, what):
        self.stats["errors"] += 1
        self.save(doc, "error-%d" % self.stats["errors"], what)
        print("ERROR seed %d (%s): %s" % (doc.seed, doc.kind, what.splitlines()[0]))

    # ---- amxml -----------------------------------------------------------------------------

    def run_amxml(self, path, exclusive, comments, prefixes=None, apex=None, excludes=()):
        """Starts amxml in the pool, streaming and with --dom; returns a list of (configuration
        suffix, command, future of its completed process). The runs of one document proceed in
        parallel with the peers' work."""
        cmd = [self.amxml, "c14n"]
        if comments:
            cmd.append("--comments")
        if exclusive:
            cmd.append("--exclusive")
        if prefixes is not None:
            cmd += ["--prefixes", " ".join(prefixes)]
        if apex:
            cmd += ["--apex", apex]
        for x in excludes:
            cmd += ["--exclude", x]
        runs = []
        for suffix, extra in (("", []), (" --dom", ["--dom"])):
            c = cmd + extra + [path]
            self.stats["amxml runs"] += 1
            runs.append((suffix, c, self.pool.submit(subprocess.run, c, stdout=subprocess.PIPE,
                                                     stderr=subprocess.PIPE, timeout=300)))
        return runs

    def compare(self, doc, config, cmd, actual, peers):
        """Compares amxml's output with each peer's; peers is a list of (name, bytes)."""
        ok = True
        for peer, expected in peers:
            self.stats["comparisons"] += 1
            if expected is None:
                self.error(doc, "%s: peer %s failed to canonicalize" % (config, peer))
                ok = False
            elif expected != actual:
                self.report(doc, config, cmd, expected, actual, peer)
                ok = False
        outputs = {e for _, e in peers if e is not None}
        if len(outputs) > 1:
            self.stats["peer disagreements"] += 1
            self.save(doc, "peers-" + config.replace("/", "_").replace(" ", "_"),
                      "peers disagree on %s:\n%s" % (config, "\n\n".join(
                          "%s:\n%s" % (n, (e or b"(failed)").decode("utf-8", "backslashreplace"))
                          for n, e in peers)))
        self.count(config, ok)

    # ---- one document ----------------------------------------------------------------------

    def document(self, seed):
        doc = Generator(seed).build()
        self.stats["documents"] += 1
        path = os.path.join(self.work, "doc-%d.xml" % seed)
        with open(path, "wb") as f:
            f.write(doc.data)
        self.compare_document(doc, path)
        os.remove(path)

    def compare_document(self, doc, path):
        seed = doc.seed
        if doc.relative:
            self.relative(doc, path)
            return
        try:
            tree = etree.ElementTree(etree.fromstring(doc.data, lxml_parser()))
        except etree.XMLSyntaxError as e:
            self.error(doc, "the generated document does not parse in libxml2: %s" % e)
            return
        self.stats["compared documents"] += 1
        r = random.Random(seed)
        full = self.args.full

        def modes():
            # All four modes with --full; otherwise two drawn per document, so that a CI run
            # covers every mode for every kind of comparison across its documents.
            return MODES if full else r.sample(MODES, 2)

        # Whole documents: xmllint (which always keeps comments) and lxml, all four modes.
        tasks = []  # (configuration, amxml command, its future, function computing the peers)
        for name, exclusive, comments in MODES:
            tasks.append(("document/" + name, self.run_amxml(path, exclusive, comments),
                          self.whole_peers(tree, path, exclusive, comments)))
        elements = [e for e in tree.getroot().iter() if is_element(e)]
        if doc.markup_entities:
            # Child sequences differ between the two parsers' trees (see MARKUP_ENTITIES).
            self.check(doc, tasks)
            return
        # Inclusive-namespace prefix lists for exclusive canonicalization.
        known = sorted(doc.prefixes)
        prefixes = r.sample(known, min(len(known), r.randint(0, 3)))
        if r.random() < 0.5:
            prefixes.append("#default")
        if r.random() < 0.2:
            prefixes.append("nowhere")

        # Apexes below the document element are the interesting ones: their ancestors'
        # namespaces and xml: attributes come into play.
        inner = elements[1:] or elements
        configs = []
        apex = r.choice(inner)
        configs.append(("apex", locator_of(apex), []))
        parents = [e for e in elements if len(element_children(e))]
        apex2 = r.choice(parents if parents and r.random() < 0.8 else elements)
        below = [e for e in apex2.iter() if is_element(e) and e is not apex2]
        if below:
            configs.append(("apex-exclude", locator_of(apex2),
                            [locator_of(e) for e in r.sample(below, min(len(below),
                                                                         r.randint(1, 3)))]))
        # The document element itself is never excluded here. Canonical XML 1.0 puts a line
        # feed after each comment or PI that precedes the document element and before each
        # one that follows it, "in document order", whether or not the document element is
        # in the node set; libxml2 decides by whether it has written the document element,
        # so without it every top-level comment and PI gets a trailing line feed
        # (<?a?><r/><?c?> minus r: the library writes "<?a?>\n\n<?c?>", libxml2
        # "<?a?>\n<?c?>\n").
        if len(elements) > 1:
            configs.append(("document-exclude", None, [locator_of(r.choice(elements[1:]))]))
        for kind, ap, excl in configs:
            for name, exclusive, comments in modes():
                tasks.append(self.subset(doc, path, tree, "%s/%s" % (kind, name), exclusive,
                                         comments, None, ap, excl))
        # Exclusive with InclusiveNamespaces prefixes, whole document and the first apex.
        for ap in (None, configs[0][1]):
            for name, exclusive, comments in (MODES[2:] if full else [r.choice(MODES[2:])]):
                kind = "prefixes-" + ("apex" if ap else "document")
                tasks.append(self.subset(doc, path, tree, "%s/%s" % (kind, name), exclusive,
                                         comments, prefixes, ap, []))
        self.check(doc, tasks)

    def whole_peers(self, tree, path, exclusive, comments):
        def peers():
            result = []
            if comments:
                x = subprocess.run(["xmllint", "--huge", "--nonet",
                                    "--exc-c14n" if exclusive else "--c14n", path],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
                result.append(("xmllint", x.stdout if x.returncode == 0 else None))
            result.append(("lxml", etree.tostring(tree, method="c14n", exclusive=exclusive,
                                                  with_comments=comments)))
            return result
        return peers

    def subset(self, doc, path, tree, config, exclusive, comments, prefixes, apex, excludes):
        def peers():
            whole = apex is None and not excludes
            result = [("libxml2" if whole else "libxml2-nodeset", self.libxml2.canonicalize(
                doc.data, apex, excludes, exclusive, comments, prefixes, whole))]
            if lxml_applies(apex, exclusive, prefixes):
                result.append(("lxml", lxml_subtree(doc.data, apex, excludes, exclusive,
                                                    comments, prefixes)))
            else:
                self.stats["lxml not applicable"] += 1
            return result
        return (config, self.run_amxml(path, exclusive, comments, prefixes, apex, excludes),
                peers)

    def check(self, doc, tasks):
        for config, runs, peers in tasks:
            expected = peers()
            for suffix, cmd, future in runs:
                p = future.result()
                if p.returncode != 0:
                    self.error(doc, "amxml failed on %s: %s" % (config + suffix, p.stderr.decode(
                        "utf-8", "backslashreplace")))
                    continue
                self.compare(doc, config + suffix, cmd, p.stdout, expected)

    def relative(self, doc, path):
        """A relative namespace name makes the library's canonicalizer fail by design; such
        documents are not compared, only checked to fail in every mode."""
        self.stats["relative-URI documents"] += 1
        runs = [(name + suffix, cmd, future) for name, exclusive, comments in MODES
                for suffix, cmd, future in self.run_amxml(path, exclusive, comments)]
        for name, cmd, future in runs:
            p = future.result()
            err = p.stderr.decode("utf-8", "backslashreplace")
            ok = p.returncode == 1 and "Invalid relative namespace URI" in err
            self.count("relative-uri/" + name, ok)
            self.stats["comparisons"] += 1
            if not ok:
                self.stats["mismatches"] += 1
                self.save(doc, "relative-" + name,
                          "expected exit 1 and \"Invalid relative namespace URI\" from %s\n"
                          "exit %d\nstderr: %s\nstdout: %s\n"
                          % (" ".join(cmd), p.returncode, err,
                             p.stdout.decode("utf-8", "backslashreplace")))
                print("MISMATCH seed %d (relative): %s exited %d: %s"
                      % (doc.seed, name, p.returncode, err.strip()[:200]))

    # ---- all -------------------------------------------------------------------------------

    def main(self):
        if os.path.isdir(self.failures):
            shutil.rmtree(self.failures)
        os.makedirs(self.work, exist_ok=True)
        start = time.time()
        with concurrent.futures.ThreadPoolExecutor(self.args.jobs) as self.pool:
            for seed in range(self.args.first, self.args.first + self.args.count):
                try:
                    self.document(seed)
                except subprocess.TimeoutExpired as e:
                    self.error(Generator(seed).build(), "timeout: %s" % e)
        s = self.stats
        print("c14n peer comparison: %d documents (%d compared with the peers, %d with relative "
              "namespace names), %d amxml runs, %d comparisons, %d mismatches, %d errors, "
              "%d peer disagreements, %d cases left to libxml2 alone (see lxml_applies), %.1f s"
              % (s["documents"], s["compared documents"], s["relative-URI documents"],
                 s["amxml runs"], s["comparisons"], s["mismatches"], s["errors"],
                 s["peer disagreements"], s["lxml not applicable"], time.time() - start))
        for config in sorted(self.by_config):
            total, bad = self.by_config[config]
            print("  %-42s %6d checked %6d failed" % (config, total, bad))
        if self.failed_docs:
            print("%d failing documents saved under %s" % (len(self.failed_docs), self.failures))
        return 0 if s["mismatches"] == 0 and s["errors"] == 0 else 1


def check_peers():
    missing = []
    if shutil.which("xmllint") is None:
        missing.append("xmllint (libxml2-utils)")
    else:
        v = subprocess.run(["xmllint", "--version"], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT).stdout.decode()
        if "C14N" not in v:
            missing.append("xmllint with C14N support")
    try:
        ctypes.CDLL("libxml2.so.2").xmlC14NDocDumpMemory
    except (OSError, AttributeError):
        missing.append("libxml2.so.2 with xmlC14NDocDumpMemory")
    return missing


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--amxml", required=True, help="the amxml executable")
    ap.add_argument("--work", required=True, help="scratch directory (failures are kept here)")
    ap.add_argument("--first", type=int, default=0, help="first seed")
    ap.add_argument("--count", type=int, default=150, help="number of documents")
    ap.add_argument("--jobs", type=int, default=2, help="amxml processes run at once")
    ap.add_argument("--full", action="store_true",
                    help="every subset comparison in all four modes (slower)")
    ap.add_argument("--verbose", action="store_true", help="print every mismatch")
    ap.add_argument("--dump", type=int, metavar="SEED", help="print one generated document")
    args = ap.parse_args()
    if args.dump is not None:
        sys.stdout.buffer.write(Generator(args.dump).build().data)
        return 0
    missing = check_peers()
    if missing:
        sys.stderr.write("c14n_peer: FAILED: peer missing: %s; run scripts/setup.sh\n"
                         % ", ".join(missing))
        return 2
    if not os.access(args.amxml, os.X_OK):
        sys.stderr.write("c14n_peer: FAILED: %s is not executable\n" % args.amxml)
        return 2
    return Run(args).main()


if __name__ == "__main__":
    sys.exit(main())
