#!/usr/bin/env bash
# Times `amxml verify` against `xmlsec1 --verify` end to end on generated documents signed with
# the test key, and prints per document and signature kind the median and least process time
# (user + system) of each, their ratio and the peak memory of each.
#
# Usage: bench/verify.sh [-n REPS] [--docs "AMOUNT ..."] [--timeout S] [--work DIR]
#                        [--build DIR | --amxml FILE]
#   -n REPS       runs of each command per document and kind (default 5); a command whose run
#                 takes over 10 s is run once
#   --docs LIST   gen.py doc amounts (default "1M 10M")
#   --timeout S   a run that takes longer is stopped and shown as ">S000" ms (default 300)
#   --work DIR    where documents and results go (default bench/work)
#   --build DIR   the Release build of amxml (default build-bench), made as bench/run.sh makes it
#   --amxml FILE  time this amxml program instead of building one
# Two kinds of signature, made from the one gen.py puts in each document (its KeyInfo dropped),
# over the element with Id="signed" less the signature, exclusive canonicalization with
# inclusive prefixes:
#   exc    through the enveloped signature transform, signed by xmlsec1;
#   xpath  through the XPath filter not(ancestor-or-self::ds:Signature) instead: the same
#          digest, the SignedInfo signed with openssl (xmlsec1 signs a filter as slowly as it
#          verifies one: about 40 s at 1 MB, growing with the square of the size).
# Needs the Debian packages xmlsec1, libxml2-utils, openssl and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

reps=5
docs="1M 10M"
timeout=300
work=bench/work
build=build-bench
amxml=""
while [ $# -gt 0 ]; do
    case "$1" in
        -n) reps="$2"; shift ;;
        --docs) docs="$2"; shift ;;
        --timeout) timeout="$2"; shift ;;
        --work) work="$2"; shift ;;
        --build) build="$2"; shift ;;
        --amxml) amxml="$2"; shift ;;
        *) sed -n '6,15p' "$0" >&2; exit 2 ;;
    esac
    shift
done
case "$build" in /*) ;; *) build="$root/$build" ;; esac
case "$work" in /*) ;; *) work="$root/$work" ;; esac
if [ -z "$amxml" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG -g" \
        -DAMXML_BUILD_BENCH=ON -DAMXML_BUILD_TESTS=OFF -DAMXML_BUILD_TOOLS=ON >/dev/null
    nice -n 10 cmake --build "$build" -j 2 --target amxml >&2
    amxml="$build/tools/amxml"
fi
case "$amxml" in /*) ;; *) amxml="$root/$amxml" ;; esac
keys=tests/data/verify/keys
mkdir -p "$work"

# signed KIND IN OUT: for exc, the template made from IN's signature (digest and value emptied,
# KeyInfo dropped); for xpath, IN (the signed exc kind) with the XPath filter in place of the
# enveloped signature transform and its SignedInfo signed again.
signed() {
    python3 - "$@" "$keys/rsa.pem" <<'EOF'
import base64, re, subprocess, sys
kind, src, out, key = sys.argv[1:]
text = open(src, encoding="utf-8").read()
if kind == "exc":
    text = re.sub(r"\s*<ds:KeyInfo>.*?</ds:KeyInfo>", "", text, count=1, flags=re.S)
    text = re.sub(r"(<ds:DigestValue>).*?(</ds:DigestValue>)", r"\1\2", text, count=1, flags=re.S)
    text = re.sub(r"(<ds:SignatureValue>).*?(</ds:SignatureValue>)", r"\1\2", text, count=1,
                  flags=re.S)
else:
    enveloped = '<ds:Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>'
    assert enveloped in text
    text = text.replace(enveloped,
                        '<ds:Transform Algorithm="http://www.w3.org/TR/1999/REC-xpath-19991116">'
                        '<ds:XPath>not(ancestor-or-self::ds:Signature)</ds:XPath></ds:Transform>', 1)
    # Exclusive canonicalization of SignedInfo, whose only prefix ds is declared above it.
    info = re.search(r"<ds:SignedInfo>.*?</ds:SignedInfo>", text, re.S).group(0)
    info = info.replace("<ds:SignedInfo>",
                        '<ds:SignedInfo xmlns:ds="http://www.w3.org/2000/09/xmldsig#">', 1)
    canonical = subprocess.run(["xmllint", "--exc-c14n", "-"], input=info.encode(),
                               capture_output=True, check=True).stdout
    value = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=canonical,
                           capture_output=True, check=True).stdout
    value = base64.encodebytes(value).decode().strip()
    text = re.sub(r"(<ds:SignatureValue>).*?(</ds:SignatureValue>)",
                  lambda m: m.group(1) + "\n" + value + "\n" + m.group(2), text, count=1,
                  flags=re.S)
open(out, "w", encoding="utf-8").write(text)
EOF
}

# time_command REPS TIMEOUT COMMAND...: "MED MIN KB" (process time in ms, peak RSS in kB) of up
# to REPS runs; fails when a run does.
time_command() {
    python3 -c 'import os, signal, subprocess, sys, time
reps, limit, cmd = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3:]
ms, rss = [], 0
for _ in range(reps):
    start = time.time()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while True:
        pid, status, usage = os.wait4(p.pid, os.WNOHANG)
        if pid:
            break
        if time.time() - start > limit:
            p.kill()
            os.wait4(p.pid, 0)
            print(">%d >%d -" % (limit * 1000, limit * 1000))
            sys.exit(0)
        time.sleep(0.01)
    if status != 0:
        sys.exit("failed: " + " ".join(cmd))
    ms.append((usage.ru_utime + usage.ru_stime) * 1e3)
    rss = max(rss, usage.ru_maxrss)
    if time.time() - start > 10:
        break
ms.sort()
med = ms[len(ms) // 2] if len(ms) % 2 else (ms[len(ms) // 2 - 1] + ms[len(ms) // 2]) / 2
print("%.1f %.1f %d" % (med, ms[0], rss))' "$@"
}

results="$work/verify-$(date +%Y%m%d-%H%M%S).txt"
: >"$results"
for amount in $docs; do
    doc="$work/doc-$amount.xml"
    if [ ! -s "$doc" ] || [ bench/peers/gen.py -nt "$doc" ]; then
        echo "generating $doc" >&2
        python3 bench/peers/gen.py doc "$amount" "$doc.tmp"
        mv "$doc.tmp" "$doc"
    fi
    exc="$work/verify-exc-$amount.xml"
    if [ ! -s "$exc" ] || [ "$doc" -nt "$exc" ] || [ "$0" -nt "$exc" ]; then
        echo "signing $exc and its xpath kind" >&2
        signed exc "$doc" "$exc.tmpl"
        xmlsec1 --sign --privkey-pem "$keys/rsa.pem" --id-attr:Id urn:bench:envelope:Body \
            --output "$exc" "$exc.tmpl"
        rm -f "$exc.tmpl"
        signed xpath "$exc" "$work/verify-xpath-$amount.xml"
    fi
    for kind in exc xpath; do
        file="$work/verify-$kind-$amount.xml"
        echo "timing $kind $amount" >&2
        a=$(time_command "$reps" "$timeout" "$amxml" verify --key "$keys/rsa.pub.pem" --id-attr Id \
            "$file")
        x=$(time_command "$reps" "$timeout" xmlsec1 --verify --pubkey-pem "$keys/rsa.pub.pem" \
            --id-attr:Id urn:bench:envelope:Body "$file")
        echo "$amount $kind $(wc -c <"$file") $a $x" >>"$results"
    done
done

python3 - "$results" <<'EOF'
import sys
def mb(kb):
    return "%.1f" % (int(kb) / 1024) if kb != "-" else "-"
def ratio(a, x):
    if x.startswith(">"):
        return "<%.3f" % (float(a) / float(x[1:]))
    return "%.3f" % (float(a) / float(x))
print("%-4s %-5s %9s | %9s %9s %7s | %10s %10s %7s | %7s" % (
    "doc", "kind", "bytes", "amxml ms", "least", "peak MB", "xmlsec1 ms", "least", "peak MB",
    "ratio"))
for line in open(sys.argv[1]):
    doc, kind, size, am, amin, akb, xm, xmin, xkb = line.split()
    print("%-4s %-5s %9s | %9s %9s %7s | %10s %10s %7s | %7s" % (
        doc, kind, size, am, amin, mb(akb), xm, xmin, mb(xkb), ratio(am, xm)))
print("process time (user + system), median of the runs; ratio: amxml / xmlsec1 medians")
EOF
echo "results: $results" >&2
