#!/usr/bin/env python3
"""Tables of a bench/run.sh results file.

    report.py RESULTS

The file holds the programs' result lines, one or more rounds of them,
(tool doc scenario out_bytes med_ms min_ms max_ms MB/s reps crc32) and lines added by run.sh:
"size DOC BYTES", "rss TOOL DOC WHAT KB", "fail TOOL DOC STATUS" and
"e2e TOOL DOC SCENARIO MED_MS MIN_MS KB" (a command end to end: process time, peak RSS).
Prints per document and scenario (the fastest round of each program) the MB/s of the library
(amxml), libxml2 and the floor, the throughput ratio amxml/libxml2, the time ratio amxml/floor,
and whether the library's output matches libxml2's (crc32 and length); then the streaming
scenarios (parse and canonicalization together) beside the DOM path's parse + c14n, libxml2's
parse + c14n in-process, and `amxml c14n` against `xmllint --c14n`/`--exc-c14n` end to end;
then peak memory and how time per MB grows with size.
Exits with 1 when an output mismatches or a program failed.
"""
import math
import sys

SCENARIOS = ["parse", "c14n-incl", "c14n-incl-comments", "c14n-excl", "c14n-incl-subset",
             "c14n-excl-subset"]
# Each streaming scenario gives the bytes of a c14n scenario.
STREAMING = {"stream-incl": "c14n-incl", "stream-excl": "c14n-excl",
             "stream-incl-subset": "c14n-incl-subset", "stream-excl-subset": "c14n-excl-subset"}


def load(path):
    results, sizes, rss, fails, order, e2e = {}, {}, {}, [], [], {}
    with open(path) as f:
        for line in f:
            w = line.split()
            if not w:
                continue
            if w[0] == "size":
                sizes[w[1]] = int(w[2])
                order.append(w[1])
            elif w[0] == "rss":
                rss[(w[1], w[2], w[3])] = None if w[4] == "-" else int(w[4])
            elif w[0] == "fail":
                fails.append((w[1], w[2], w[3]))
            elif w[0] == "e2e":
                med = None if w[4] == "-" else float(w[4])
                old = e2e.get((w[1], w[2], w[3]))
                if med is None:
                    fails.append((w[1] + " " + w[3] + " end to end", w[2], "-"))
                elif not old or med < old["med"]:
                    e2e[(w[1], w[2], w[3])] = {"med": med, "min": float(w[5]), "kb": int(w[6])}
            elif len(w) == 10:
                tool, doc, scenario = w[0], w[1], w[2]
                if tool == "xerces":  # the floor program's parse
                    tool = "floor"
                r = {"out": None if w[3] == "-" else int(w[3]), "med": float(w[4]),
                     "mbs": float(w[7]), "crc": w[9]}
                # of several rounds the fastest counts; all rounds must give the same output
                old = results.get((tool, doc, scenario))
                if old and (old["out"], old["crc"]) != (r["out"], r["crc"]):
                    r["crc"] = "varies"
                if not old or r["med"] < old["med"]:
                    results[(tool, doc, scenario)] = r
                elif r["crc"] == "varies":
                    old["crc"] = "varies"
    return results, sizes, rss, fails, order, e2e


def fmt(x, spec):
    """x formatted by spec; "-" in the same width when x is missing."""
    if x is None:
        width = spec.split(".")[0]
        return "-".rjust(int(width) if width.isdigit() else 0)
    return format(x, spec)


def ratio(a, b):
    return a / b if a is not None and b else None


def mb(kb):
    return None if kb is None else kb / 1024


def document_table(doc, size, results):
    get = lambda tool, s: results.get((tool, doc, s))
    mismatches = 0
    print(f"{doc}  ({size / 1e6:.2f} MB)")
    print(f"  {'scenario':<20} {'amxml MB/s':>10} {'libxml2 MB/s':>12} {'floor MB/s':>10} "
          f"{'amxml/libxml2':>13} {'amxml/floor time':>16}  output vs libxml2")
    for s in SCENARIOS:
        a, l, f = get("amxml", s), get("libxml2", s), get("floor", s)
        if not (a or l or f):
            continue
        mbs = lambda r: r["mbs"] if r else None
        med = lambda r: r["med"] if r else None
        if s == "parse":
            check = "-"
        elif not a or not l:
            check = "missing"
        elif a["crc"] == l["crc"] and a["out"] == l["out"]:
            check = "ok"
        else:
            check = f"MISMATCH (amxml {a['out']} bytes {a['crc']}, libxml2 {l['out']} bytes {l['crc']})"
            mismatches += 1
        print(f"  {s:<20} {fmt(mbs(a), '10.1f')} {fmt(mbs(l), '12.1f')} {fmt(mbs(f), '10.1f')} "
              f"{fmt(ratio(mbs(a), mbs(l)), '12.2f')}x {fmt(ratio(med(a), med(f)), '15.2f')}x  {check}")
    return mismatches


def streaming_table(doc, size, results, e2e):
    """Parse and canonicalization together: in-process MB/s of the streaming path, the DOM path
    (parse + c14n) and libxml2 (parse + c14n); end to end, process time of `amxml c14n` and of
    xmllint, their ratio and peak RSS. Gives the number of output mismatches."""
    get = lambda tool, s: results.get((tool, doc, s))
    mb = size / 1e6
    rows = [s for s in STREAMING if get("amxml", s) or e2e.get(("amxml", doc, s))]
    if not rows:
        return 0
    mismatches = 0
    print(f"  {'streaming':<20} {'stream MB/s':>11} {'DOM MB/s':>9} {'libxml2 MB/s':>12} "
          f"{'stream/DOM':>10} {'stream/lx2':>10} {'amxml e2e ms':>12} {'xmllint ms':>10} "
          f"{'xmllint/amxml':>13} {'amxml RSS':>9} {'xmllint RSS':>11}  output")
    for s in rows:
        c = STREAMING[s]
        st = get("amxml", s)
        sum_ms = lambda tool: (get(tool, "parse")["med"] + get(tool, c)["med"]
                               if get(tool, "parse") and get(tool, c) else None)
        mbs = lambda ms: mb / (ms / 1e3) if ms else None
        stream = st["mbs"] if st else None
        dom, lx = mbs(sum_ms("amxml")), mbs(sum_ms("libxml2"))
        a, x = e2e.get(("amxml", doc, s)), e2e.get(("xmllint", doc, s))
        if not st:
            check = "-"
        elif get("libxml2", c) and (st["crc"], st["out"]) == (get("libxml2", c)["crc"],
                                                           get("libxml2", c)["out"]):
            check = "ok"
        elif st["crc"] == "-" or not get("libxml2", c):
            check = "-"
        else:
            check = f"MISMATCH (stream {st['out']} bytes {st['crc']})"
            mismatches += 1
        print(f"  {s:<20} {fmt(stream, '11.1f')} {fmt(dom, '9.1f')} {fmt(lx, '12.1f')} "
              f"{fmt(ratio(stream, dom), '9.2f')}x {fmt(ratio(stream, lx), '9.2f')}x "
              f"{fmt(a and a['med'], '12.1f')} {fmt(x and x['med'], '10.1f')} "
              f"{fmt(ratio(x and x['med'], a and a['med']), '12.2f')}x "
              f"{fmt(a and a['kb'] / 1024, '7.1f')} MB {fmt(x and x['kb'] / 1024, '9.1f')} MB  "
              f"{check}")
    return mismatches


def memory_line(doc, size, rss):
    p, c = rss.get(("amxml", doc, "parse")), rss.get(("amxml", doc, "c14n-incl"))
    st = rss.get(("amxml", doc, "stream-incl"))
    lx = rss.get(("libxml2", doc, "all"))
    if p is None and c is None:
        return
    grow = f" (+{mb(c - p):.1f} MB, {c / p:.2f}x)" if p and c else ""
    print(f"  memory: peak RSS amxml parse {fmt(mb(p), '.1f')} MB, parse + c14n-incl "
          f"{fmt(mb(c), '.1f')} MB{grow}, stream-incl {fmt(mb(st), '.1f')} MB (the input held "
          f"in memory included); libxml2 all scenarios {fmt(mb(lx), '.1f')} MB; "
          f"input {size / 1e6:.1f} MB")


def per_mb(results, tool, doc, s, sizes, e2e=None):
    r = (e2e or results).get((tool, doc, s))
    return r["med"] / (sizes[doc] / 1e6) if r else None


def linearity(results, sizes, order, e2e):
    docs = sorted((d for d in order if d.startswith("doc-")), key=lambda d: sizes[d])
    # documents only run end to end take no part
    docs = [d for d in docs if any(k[1] == d for k in results)] or docs
    others = [d for d in order if not d.startswith("doc-")]
    small, large = (docs[0], docs[-1]) if len(docs) > 1 else (None, None)
    # each other document is compared with the doc document nearest to it in size
    refs = {d: min(docs, key=lambda x: abs(math.log(sizes[x] / sizes[d]))) for d in others} if docs else {}
    if not small and not refs:
        return
    print("linearity: amxml ms per input MB, and its growth (libxml2's growth in brackets; end to "
          "end, xmllint's)")
    head = f"  {'scenario':<24}"
    if small:
        head += f" {small:>14} {large:>14} {'growth':>17}"
    for d in refs:
        head += f"   {d + ' vs ' + refs[d]:>38}"
    print(head)
    rows = [(s, s, results, "libxml2", s) for s in SCENARIOS + list(STREAMING)]
    # libxml2 has no streaming scenarios in-process, so their growth has no peer figure
    rows += [("e2e " + s, s, e2e, "xmllint", s) for s in STREAMING]
    for label, s, table, peer, ps in rows:
        if not any(k[0] == "amxml" and k[2] == s for k in table):
            continue
        row = f"  {label:<24}"
        if small:
            a0, a1 = per_mb(table, "amxml", small, s, sizes), per_mb(table, "amxml", large, s, sizes)
            l0, l1 = per_mb(table, peer, small, ps, sizes), per_mb(table, peer, large, ps, sizes)
            row += (f" {fmt(a0, '14.2f')} {fmt(a1, '14.2f')} "
                    f"{fmt(ratio(a1, a0), '6.2f')}x [{fmt(ratio(l1, l0), '6.2f')}x]")
        for d, ref in refs.items():
            a, ar = per_mb(table, "amxml", d, s, sizes), per_mb(table, "amxml", ref, s, sizes)
            l, lr = per_mb(table, peer, d, ps, sizes), per_mb(table, peer, ref, ps, sizes)
            row += (f"   {fmt(a, '8.2f')} vs {fmt(ar, '8.2f')} "
                    f"{fmt(ratio(a, ar), '6.2f')}x [{fmt(ratio(l, lr), '6.2f')}x]")
        print(row)


def end_to_end_only(doc, size, e2e):
    """Documents run end to end only (too large for the in-process programs)."""
    for s in STREAMING:
        a = e2e.get(("amxml", doc, s))
        if a:
            print(f"  amxml c14n {s}: {a['med'] / 1e3:.1f} s process time, "
                  f"{size / 1e6 / (a['med'] / 1e3):.1f} MB/s, peak RSS {a['kb'] / 1024:.1f} MB")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    results, sizes, rss, fails, order, e2e = load(sys.argv[1])
    mismatches = 0
    for doc in order:
        if not any(k[1] == doc for k in results):
            print(f"{doc}  ({sizes[doc] / 1e6:.2f} MB), end to end only")
            end_to_end_only(doc, sizes[doc], e2e)
            print()
            continue
        mismatches += document_table(doc, sizes[doc], results)
        mismatches += streaming_table(doc, sizes[doc], results, e2e)
        memory_line(doc, sizes[doc], rss)
        print()
    linearity(results, sizes, order, e2e)
    print()
    for tool, doc, status in fails:
        print(f"FAILED: {tool} on {doc} (exit status {status})")
    if mismatches:
        print(f"{mismatches} output mismatch(es) between amxml and libxml2; run again with --dump "
              "and compare WORK/dump/amxml.DOC.SCENARIO with WORK/dump/libxml2.DOC.SCENARIO")
    print(f"results: {sys.argv[1]}")
    return 1 if mismatches or fails else 0


if __name__ == "__main__":
    sys.exit(main())
