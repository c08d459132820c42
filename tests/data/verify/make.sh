#!/usr/bin/env bash
# Makes the signed fixtures of the amxml verify tests with xmlsec1 and test keys made by openssl,
# altered copies that must fail, and checks that xmlsec1 accepts every good fixture and rejects
# every altered one. The keys are made once and kept; run from anywhere:
#   tests/data/verify/make.sh            (needs the Debian packages xmlsec1 and openssl)
# The outputs are committed, so the tests need neither program. With --check, the committed
# fixtures are only checked with xmlsec1.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p keys

# Test keys: RSA 2048 (with a self-signed certificate), EC P-256 and P-521, a second RSA key
# that signed nothing, and a 512-bit RSA key that verification must refuse.
[ -f keys/rsa.pem ] || openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out keys/rsa.pem
[ -f keys/ec.pem ] || openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out keys/ec.pem
[ -f keys/ec521.pem ] || openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-521 -out keys/ec521.pem
[ -f keys/other.pem ] || openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out keys/other.pem
[ -f keys/small.pem ] || openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 -out keys/small.pem 2>/dev/null
for k in rsa ec ec521 other small; do openssl pkey -in keys/$k.pem -pubout -out keys/$k.pub.pem; done
[ -f keys/rsa.crt ] || openssl req -x509 -new -key keys/rsa.pem -subj /CN=amxml-test -days 36500 -out keys/rsa.crt

ds=http://www.w3.org/2000/09/xmldsig#
more=http://www.w3.org/2001/04/xmldsig-more#
enc=http://www.w3.org/2001/04/xmlenc#
c14n=http://www.w3.org/TR/2001/REC-xml-c14n-20010315
exc=http://www.w3.org/2001/10/xml-exc-c14n#

# signedinfo C14N SIGNATURE-METHOD REFERENCE...: a SignedInfo of the given references, where a
# reference is "URI|TRANSFORM TRANSFORM...|DIGEST"; a transform or canonicalization method is
# an algorithm URI, with "+PREFIXES" for an exclusive method's InclusiveNamespaces.
method() {  # method ELEMENT SPEC
    local uri=${2%%+*} p=${2#*+}
    if [ "$uri" != "$2" ]; then
        echo "<$1 Algorithm=\"$uri\"><ec:InclusiveNamespaces xmlns:ec=\"$exc\" PrefixList=\"${p//,/ }\"/></$1>"
    else
        echo "<$1 Algorithm=\"$uri\"/>"
    fi
}
signedinfo() {
    local c=$1 s=$2
    shift 2
    echo "<SignedInfo>$(method CanonicalizationMethod "$c")<SignatureMethod Algorithm=\"$s\"/>"
    for r in "$@"; do
        IFS='|' read -r uri transforms digest <<<"$r"
        echo "<Reference URI=\"$uri\">"
        if [ -n "$transforms" ]; then
            echo "<Transforms>"
            for t in $transforms; do method Transform "$t"; done
            echo "</Transforms>"
        fi
        echo "<DigestMethod Algorithm=\"$digest\"/><DigestValue></DigestValue></Reference>"
    done
    echo "</SignedInfo>"
}
# signature ID C14N SIGNATURE-METHOD REFERENCE...: a whole Signature template.
signature() {
    local id=$1
    shift
    echo "<Signature xmlns=\"$ds\"${id:+ Id=\"$id\"}>$(signedinfo "$@")<SignatureValue/></Signature>"
}

# filtered ID URI TRANSFORMS: a Signature template of one reference, its Transforms element
# holding the given XML (filters, whose expressions the specs above cannot carry); RSA-SHA256
# over an exclusive SignedInfo and a SHA-256 digest.
filtered() {
    echo "<Signature xmlns=\"$ds\"${1:+ Id=\"$1\"}><SignedInfo>$(method CanonicalizationMethod "$exc")"
    echo "<SignatureMethod Algorithm=\"${more}rsa-sha256\"/><Reference URI=\"$2\"><Transforms>$3</Transforms>"
    echo "<DigestMethod Algorithm=\"${enc}sha256\"/><DigestValue></DigestValue></Reference></SignedInfo>"
    echo "<SignatureValue/></Signature>"
}
# xpath EXPRESSION: an XPath filter transform, the prefix ds declared on its XPath element.
xpath() {
    echo "<Transform Algorithm=\"http://www.w3.org/TR/1999/REC-xpath-19991116\"><XPath xmlns:ds=\"$ds\">$1</XPath></Transform>"
}
# xpath2 OPERATION EXPRESSION...: an XPath Filter 2.0 transform of the given steps.
xpath2() {
    local f=http://www.w3.org/2002/06/xmldsig-filter2
    echo "<Transform Algorithm=\"$f\">"
    while [ $# -gt 0 ]; do
        echo "<f:XPath xmlns:f=\"$f\" xmlns:ds=\"$ds\" Filter=\"$1\">$2</f:XPath>"
        shift 2
    done
    echo "</Transform>"
}

rsa=(--privkey-pem keys/rsa.pem)
ec=(--privkey-pem keys/ec.pem)

# sign OUT KEY-OPTIONS... -- XMLSEC-OPTIONS...: signs the template on standard input.
sign() {
    local out=$1
    shift
    local key=()
    while [ "$1" != "--" ]; do key+=("$1"); shift; done
    shift
    cat >"$out.tmpl"
    xmlsec1 --sign "${key[@]}" "$@" --output "$out" "$out.tmpl"
    rm -f "$out.tmpl"
}

if [ "${1:-}" != "--check" ]; then

# Enveloped, exclusive, with an inclusive prefix; namespaces and xml: attributes on ancestors,
# a character above U+FFFF, comments (dropped by the "" reference).
sign enveloped-exc.xml "${rsa[@]}" -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!-- an order -->
<o:Order xmlns:o="urn:example:order" xmlns:x="urn:example:extra" xml:lang="en" x:v="1">
  <o:Item sku="A-1">Widget &#x1D11E; &amp; more<!-- note --></o:Item>
  $(signature "" "$exc+x" "${more}rsa-sha256" "|${ds}enveloped-signature $exc+x,o|${enc}sha256")
</o:Order>
EOF

# Enveloped, inclusive, SHA-1 everywhere.
sign enveloped-inc.xml "${rsa[@]}" -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<doc xmlns="urn:example:doc" xmlns:a="urn:a"><a:p a:q="2">text</a:p>
  $(signature "" "$c14n" "${ds}rsa-sha1" "|${ds}enveloped-signature|${ds}sha1")
</doc>
EOF

# By ID named on the command line, a detached sibling signature; ECDSA P-256, SHA-512 digest.
sign id-attr.xml "${ec[@]}" -- --id-attr:Id Item <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Envelope xmlns="urn:example:env" xmlns:u="urn:unused">
  <Item Id="signed" xml:space="preserve"><u:n>one</u:n>  two  </Item>
  $(signature "" "$exc" "${more}ecdsa-sha256" "#signed|$exc|${enc}sha512")
</Envelope>
EOF

# By ID typed by the DTD, inclusive, so the ancestors' namespaces and xml: attributes count;
# RSA-SHA512 over a SHA-384 digest.
sign id-dtd.xml "${rsa[@]}" -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE r [<!ATTLIST part ref ID #IMPLIED>]>
<r xmlns:p="urn:p" xml:lang="de"><part ref="p1" p:k="v">Gr&#xFC;&#xDF;e &#x1F600;</part>
  <part ref="p2">other</part>
  $(signature "" "$c14n" "${more}rsa-sha512" "#p1||${more}sha384")
</r>
EOF

# The whole document with comments through #xpointer(/), the signature enveloped.
sign xpointer-root.xml "${ec[@]}" -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!-- kept -->
<doc><a>1</a><!-- also kept --><b>2</b>
  $(signature "" "$c14n#WithComments" "${more}ecdsa-sha384" "#xpointer(/)|${ds}enveloped-signature ${c14n}#WithComments|${more}sha224")
</doc>
EOF

# One element with comments through #xpointer(id('...')), exclusive with comments.
sign xpointer-id.xml "${rsa[@]}" -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE doc [<!ATTLIST e id ID #IMPLIED>]>
<doc xmlns:n="urn:n"><e id="a"><n:c>x</n:c><!-- in --></e>
  $(signature "" "${exc}WithComments" "${more}rsa-sha384" "#xpointer(id('a'))|${exc}WithComments|${enc}sha256")
</doc>
EOF

# ECDSA on P-521, whose r and s take 66 octets each.
sign ecdsa-p521.xml --privkey-pem keys/ec521.pem -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<doc><v>521</v>$(signature "" "$exc" "${more}ecdsa-sha512" "|${ds}enveloped-signature|${enc}sha256")</doc>
EOF

# Canonical XML twice: the second parses the octets of the first, here an element whose
# namespace context the first has fixed.
sign c14n-twice.xml "${rsa[@]}" -- --id-attr:id item <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<a:list xmlns:a="urn:a" xmlns:b="urn:b"><a:item id="x" b:c="1"><!-- c --><b:d/></a:item>
  $(signature "" "$c14n" "${more}rsa-sha256" "#x|${exc}WithComments $c14n|${enc}sha256")
</a:list>
EOF

# Several references in one signature, one per digest.
sign multi-ref.xml "${rsa[@]}" -- --id-attr:id item <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<list><item id="a">A</item><item id="b">B</item><item id="c">C</item>
  $(signature "" "$exc" "${more}rsa-sha256" "#a||${ds}sha1" "#b||${more}sha224" "#c||${more}sha384" "|${ds}enveloped-signature|${enc}sha512")
</list>
EOF

# Two signatures over two elements, one RSA and one ECDSA.
sign multi-sig.tmp "${rsa[@]}" -- --id-attr:id item --node-xpath "/list/*[local-name()='Signature'][1]" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<list><item id="a">A</item><item id="b">B</item>
  $(signature s1 "$exc" "${more}rsa-sha256" "#a||${enc}sha256")
  $(signature s2 "$c14n" "${more}ecdsa-sha512" "#b||${enc}sha256")
</list>
EOF
sign multi-sig.xml "${ec[@]}" -- --id-attr:id item --node-xpath "/list/*[local-name()='Signature'][2]" <multi-sig.tmp
rm -f multi-sig.tmp

# Enveloped through an XPath filter, the node set then canonicalized inclusively by default.
sign xpath-enveloped.xml "${rsa[@]}" -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<o:Order xmlns:o="urn:example:order" xmlns:x="urn:example:extra" x:v="1"><!-- dropped -->
  <o:Item sku="A-1">Widget</o:Item>
  <o:Item sku="B-2">Gadget</o:Item>
  $(filtered "" "" "$(xpath 'not(ancestor-or-self::ds:Signature)')")
</o:Order>
EOF

# here(): the first signature leaves out its own subtree only, so it covers the second one,
# signed before it.
sign xpath-here.tmp "${rsa[@]}" -- --id-attr:id item --node-xpath "/doc/*[local-name()='Signature'][2]" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<doc xmlns:n="urn:n"><item id="a"><n:v>A</n:v></item>
  $(filtered s1 "" "$(xpath 'count(ancestor-or-self::ds:Signature | here()/ancestor::ds:Signature[1]) &gt; count(ancestor-or-self::ds:Signature)') $(method Transform "$exc")")
  $(signature s2 "$exc" "${more}rsa-sha256" "#a||${enc}sha256")
</doc>
EOF
sign xpath-here.xml "${rsa[@]}" -- --id-attr:id item --node-xpath "/doc/*[local-name()='Signature'][1]" <xpath-here.tmp
rm -f xpath-here.tmp

# XPath Filter 2.0: the Signed element, less the signature inside it, and the Extra element.
sign filter2.xml "${rsa[@]}" -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Envelope xmlns:x="urn:example:extra">
  <Header>not signed</Header>
  <Signed x:a="1"><Part>one</Part><!-- c --><Part>two</Part>
    $(filtered "" "" "$(xpath2 intersect //Signed subtract //ds:Signature union //Extra) $(method Transform "$exc")")
  </Signed>
  <Extra>united</Extra>
</Envelope>
EOF

# The XPath filter on the document parsed from the octets of a canonicalization: the comment
# left out, and an element whose attribute and text stay; the prefix n bound by the document
# element.
sign xpath-after-c14n.xml "${rsa[@]}" -- <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE doc [<!ATTLIST e id ID #IMPLIED>]>
<doc xmlns:n="urn:n"><e id="a"><n:c>x</n:c><!-- in --><n:d k="v">t</n:d></e>
  $(filtered "" "#xpointer(id('a'))" "$(method Transform "$c14n#WithComments") $(xpath 'not(self::comment() or self::n:d)')")
</doc>
EOF

# The demo's sample, a purchase order signed over its Signed element: signed in place. xmlsec1
# writes the document again in its own way, so only the two values it computed are put back
# into the sample's own bytes.
sample=../../../samples/signed-order.xml
perl -0pe 's|<ds:DigestValue>.*?</ds:DigestValue>|<ds:DigestValue></ds:DigestValue>|s;
    s|<ds:SignatureValue>.*?</ds:SignatureValue>|<ds:SignatureValue></ds:SignatureValue>|s' \
    "$sample" | sign sample.signed "${rsa[@]}" -- --id-attr:Id Signed
value() { perl -0ne "print \$1 if m|<ds:$1>(.*?)</ds:$1>|s" sample.signed; }
digest=$(value DigestValue) signature=$(value SignatureValue) perl -0pi -e \
    's|(<ds:DigestValue>).*?(</ds:DigestValue>)|$1$ENV{digest}$2|s;
     s|(<ds:SignatureValue>).*?(</ds:SignatureValue>)|$1$ENV{signature}$2|s' "$sample"
rm -f sample.signed
cp keys/rsa.pub.pem ../../../samples/signed-order.pub.pem

# Altered copies: each must fail.
alter() {  # alter IN OUT SED-SCRIPT
    sed -e "$3" "$1" >"$2"
    cmp -s "$1" "$2" && { echo "alteration of $1 into $2 changed nothing" >&2; exit 1; }
    return 0
}
alter enveloped-exc.xml bad-text.xml 's/Widget/Gadget/'
alter enveloped-exc.xml bad-attribute.xml 's/sku="A-1"/sku="A-2"/'
alter enveloped-exc.xml bad-namespace.xml 's/xmlns:x="urn:example:extra"/xmlns:x="urn:example:other"/'
alter id-attr.xml bad-digest.xml 's|<DigestValue>.|<DigestValue>A|'
alter multi-ref.xml bad-second-ref.xml 's|>B</item>|>b</item>|'
alter id-dtd.xml bad-signature-value.xml '/<SignatureValue>/{n;s/^./A/;}'
# A comment in SignedInfo is no part of its canonical form; a namespace declaration is.
alter id-dtd.xml comment-in-signedinfo.xml 's|<SignedInfo>|<SignedInfo><!-- c -->|'
alter id-dtd.xml bad-signedinfo-namespace.xml 's|<SignedInfo>|<SignedInfo xmlns:q="urn:q">|'
# A duplicated ID: a forged element with the signed one's ID before it.
alter id-dtd.xml bad-duplicate-id.xml 's|<part ref="p1"|<part ref="p1">forged</part><part ref="p1"|'
# Wrapping: the signed element moved into an Object of the signature, a forged one in its place.
sed -e 's|<Item Id="signed" xml:space="preserve"><u:n>one</u:n>  two  </Item>|<Item Id="signed">forged</Item>|' \
    -e "s|</Signature>|<Object><Item Id=\"signed\" xml:space=\"preserve\"><u:n>one</u:n>  two  </Item></Object></Signature>|" \
    id-attr.xml >bad-wrapped.xml
cmp -s id-attr.xml bad-wrapped.xml && { echo "wrapping changed nothing" >&2; exit 1; }
# Moved elements: an item into the subtree the filter leaves out; the united element before the
# signed one, where its own filter still finds it.
alter xpath-enveloped.xml bad-xpath-moved.xml \
    '/<o:Item sku="B-2">/d; s|</Signature>|<Object><o:Item sku="B-2">Gadget</o:Item></Object></Signature>|'
alter filter2.xml bad-filter2-moved.xml \
    '/<Extra>united<\/Extra>/d; s|<Signed x:a="1">|<Extra>united</Extra>&|'

fi

# xmlsec1 must agree: every good fixture verifies, every altered one does not.
# xmlsec1 tries only the first key of a type, so the P-521 key is given alone.
check() {  # check EXPECTED FILE XMLSEC-OPTIONS...
    local expected=$1 file=$2 keys=(--pubkey-pem keys/rsa.pub.pem --pubkey-pem keys/ec.pub.pem)
    shift 2
    [ "$file" = ecdsa-p521.xml ] && keys=(--pubkey-pem keys/ec521.pub.pem)
    if xmlsec1 --verify "${keys[@]}" "$@" "$file" \
        >/dev/null 2>&1; then
        got=good
    else
        got=bad
    fi
    [ "$got" = "$expected" ] || { echo "xmlsec1 finds $file $got, expected $expected" >&2; exit 1; }
}
check good enveloped-exc.xml
check good enveloped-inc.xml
check good id-attr.xml --id-attr:Id Item
check good id-dtd.xml
check good xpointer-root.xml
check good xpointer-id.xml
check good multi-ref.xml --id-attr:id item
check good c14n-twice.xml --id-attr:id item
check good ecdsa-p521.xml
check good multi-sig.xml --id-attr:id item --node-xpath "/list/*[local-name()='Signature'][1]"
check good multi-sig.xml --id-attr:id item --node-xpath "/list/*[local-name()='Signature'][2]"
check good comment-in-signedinfo.xml
check good ../../../samples/signed-order.xml --id-attr:Id Signed
check good xpath-enveloped.xml
check good xpath-here.xml --id-attr:id item --node-xpath "/doc/*[local-name()='Signature'][1]"
check good xpath-here.xml --id-attr:id item --node-xpath "/doc/*[local-name()='Signature'][2]"
check good filter2.xml
check good xpath-after-c14n.xml
for f in bad-text bad-attribute bad-namespace; do check bad $f.xml; done
check bad bad-digest.xml --id-attr:Id Item
check bad bad-second-ref.xml --id-attr:id item
check bad bad-signature-value.xml
check bad bad-signedinfo-namespace.xml
check bad bad-duplicate-id.xml
check bad bad-wrapped.xml --id-attr:Id Item
check bad bad-xpath-moved.xml
check bad bad-filter2-moved.xml
echo "xmlsec1 agrees with every fixture"
