#!/usr/bin/env python3
"""Tables of a bench/run.sh results file.

    report.py RESULTS

The file holds the programs' result lines, one or more rounds of them,
(tool doc scenario out_bytes med_ms min_ms max_ms MB/s reps crc32) and lines added by run.sh:
"size DOC BYTES", "rss TOOL DOC WHAT KB" and "fail TOOL DOC STATUS".
Prints per document and scenario (the fastest round of each program) the MB/s of the library (amxml), libxml2 and the floor, the
throughput ratio amxml/libxml2, the time ratio amxml/floor, and whether the library's output
matches libxml2's (crc32 and length); then peak memory and how time per MB grows with size.
Exits with 1 when an output mismatches or a program failed.
"""
import math
import sys

SCENARIOS = ["parse", "c14n-incl", "c14n-incl-comments", "c14n-excl", "c14n-incl-subset",
             "c14n-excl-subset"]


def load(path):
    results, sizes, rss, fails, order = {}, {}, {}, [], []
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
    return results, sizes, rss, fails, order


def fmt(x, spec):
    return "-" if x is None else format(x, spec)


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


def memory_line(doc, size, rss):
    p, c = rss.get(("amxml", doc, "parse")), rss.get(("amxml", doc, "c14n-incl"))
    lx = rss.get(("libxml2", doc, "all"))
    if p is None and c is None:
        return
    grow = f" (+{mb(c - p):.1f} MB, {c / p:.2f}x)" if p and c else ""
    print(f"  memory: peak RSS amxml parse {fmt(mb(p), '.1f')} MB, parse + c14n-incl "
          f"{fmt(mb(c), '.1f')} MB{grow}; libxml2 all scenarios {fmt(mb(lx), '.1f')} MB; "
          f"input {size / 1e6:.1f} MB")


def per_mb(results, tool, doc, s, sizes):
    r = results.get((tool, doc, s))
    return r["med"] / (sizes[doc] / 1e6) if r else None


def linearity(results, sizes, order):
    docs = sorted((d for d in order if d.startswith("doc-")), key=lambda d: sizes[d])
    others = [d for d in order if not d.startswith("doc-")]
    small, large = (docs[0], docs[-1]) if len(docs) > 1 else (None, None)
    # each other document is compared with the doc document nearest to it in size
    refs = {d: min(docs, key=lambda x: abs(math.log(sizes[x] / sizes[d]))) for d in others} if docs else {}
    if not small and not refs:
        return
    print("linearity: amxml ms per input MB, and its growth (libxml2's growth in brackets)")
    head = f"  {'scenario':<20}"
    if small:
        head += f" {small:>14} {large:>14} {'growth':>17}"
    for d in refs:
        head += f"   {d + ' vs ' + refs[d]:>38}"
    print(head)
    for s in SCENARIOS:
        row = f"  {s:<20}"
        if small:
            a0, a1 = per_mb(results, "amxml", small, s, sizes), per_mb(results, "amxml", large, s, sizes)
            l0, l1 = per_mb(results, "libxml2", small, s, sizes), per_mb(results, "libxml2", large, s, sizes)
            row += (f" {fmt(a0, '14.2f')} {fmt(a1, '14.2f')} "
                    f"{fmt(ratio(a1, a0), '6.2f')}x [{fmt(ratio(l1, l0), '6.2f')}x]")
        for d, ref in refs.items():
            a, ar = per_mb(results, "amxml", d, s, sizes), per_mb(results, "amxml", ref, s, sizes)
            l, lr = per_mb(results, "libxml2", d, s, sizes), per_mb(results, "libxml2", ref, s, sizes)
            row += (f"   {fmt(a, '8.2f')} vs {fmt(ar, '8.2f')} "
                    f"{fmt(ratio(a, ar), '6.2f')}x [{fmt(ratio(l, lr), '6.2f')}x]")
        print(row)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    results, sizes, rss, fails, order = load(sys.argv[1])
    mismatches = 0
    for doc in order:
        mismatches += document_table(doc, sizes[doc], results)
        memory_line(doc, sizes[doc], rss)
        print()
    linearity(results, sizes, order)
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
