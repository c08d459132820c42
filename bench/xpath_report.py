#!/usr/bin/env python3
"""Tables of a bench/xpath.sh run: per document and expression the median times (ms) of amxml,
libxml2 and pugixml, the ratios amxml/libxml2 and amxml/pugixml (below 1: amxml is faster),
their geometric means, the time per MB of each document relative to the smallest document of the
same kind, and every result that differs from libxml2's; under each document's header, the time
of a bare walk of Xerces-C's DOM (the floor of the walk-bound expressions) when the run has it.

Usage: python3 bench/xpath_report.py RESULTS_FILE
"""
import math
import sys


def main(path):
    sizes, rows, order, fails, floors = {}, {}, [], [], {}
    for line in open(path):
        f = line.split()
        if not f:
            continue
        if f[0] == "size":
            sizes[f[1]] = int(f[2])
            continue
        if f[0] == "fail":
            fails.append(line.strip())
            continue
        if len(f) != 8:
            continue
        tool, doc, ident, result, med = f[0], f[1], f[2], f[3], f[4]
        if tool == "xerces":
            floors[doc] = (result, med)
            continue
        key = (doc, ident)
        if key not in rows:
            rows[key] = {}
            order.append(key)
        rows[key][tool] = (result, None if med == "-" else float(med))

    mismatches = []
    compared = unchecked = 0
    by_doc = {}
    for key in order:
        by_doc.setdefault(key[0], []).append(key)
    for doc, keys in by_doc.items():
        print("%s (%s bytes)" % (doc, sizes.get(doc, "?")))
        if doc in floors:
            print("  floor: a bare walk of Xerces-C's DOM (first child, next sibling) over its "
                  "%s takes %s ms" % (floors[doc][0].replace("nodes:", "") + " nodes",
                                      floors[doc][1]))
        print("  %-20s %-22s %10s %10s %10s %8s %8s" %
              ("expression", "result", "amxml", "libxml2", "pugixml", "/libxml2", "/pugixml"))
        logs_l, logs_p = [], []
        for key in keys:
            r = rows[key]
            a, l, p = r.get("amxml"), r.get("libxml2"), r.get("pugixml")
            def ms(x):
                return "%10.3f" % x[1] if x and x[1] is not None else "%10s" % "-"
            def ratio(x, logs):
                if not a or a[1] is None or not x or x[1] is None or x[1] <= 0 or a[1] <= 0:
                    return "%8s" % "-"
                logs.append(math.log(a[1] / x[1]))
                return "%8.2f" % (a[1] / x[1])
            flag = ""
            if a and l and l[0] != "error":
                compared += 1
            elif a:
                unchecked += 1
            if a and l and a[0] != l[0]:
                flag = "  MISMATCH libxml2 " + l[0]
                mismatches.append("%s %s: amxml %s, libxml2 %s" % (doc, key[1], a[0], l[0]))
            print("  %-20s %-22s %s %s %s %s %s%s" %
                  (key[1], a[0] if a else "-", ms(a), ms(l), ms(p), ratio(l, logs_l),
                   ratio(p, logs_p), flag))
        def gm(logs):
            return "%8.2f" % math.exp(sum(logs) / len(logs)) if logs else "%8s" % "-"
        print("  %-20s %-22s %10s %10s %10s %s %s" %
              ("geometric mean", "", "", "", "", gm(logs_l), gm(logs_p)))
        print()

    # Scaling: ms per MB of the larger documents of one kind against the smallest of that kind.
    kinds = {}
    for doc in by_doc:
        kinds.setdefault(doc.split("-")[0], []).append(doc)
    for kind, docs in kinds.items():
        docs = [d for d in docs if d in sizes]
        if len(docs) < 2:
            continue
        docs.sort(key=lambda d: sizes[d])
        ids = {d: set(k[1] for k in by_doc[d]) for d in docs}
        for doc in docs[1:]:
            # Against the smallest document that shares expressions with this one (the 200 KB
            # document of the invariant filter shares none with the 1 MB one).
            bases = [d for d in docs if sizes[d] < sizes[doc] and ids[d] & ids[doc]]
            if not bases:
                continue
            base = bases[0]
            print("amxml time per MB, %s against %s (1.00 = linear)" % (doc, base))
            worst = []
            for key in by_doc[doc]:
                a = rows[key].get("amxml")
                b = rows.get((base, key[1]), {}).get("amxml")
                if not a or not b or a[1] is None or b[1] is None or b[1] <= 0:
                    continue
                s = (a[1] / sizes[doc]) / (b[1] / sizes[base])
                worst.append((s, key[1]))
            for s, ident in sorted(worst, reverse=True):
                print("  %-20s %6.2f%s" % (ident, s, "  (over 1.3)" if s > 1.3 else ""))
            print()

    for f in fails:
        print("FAILED RUN: " + f)
    if mismatches:
        print("!!! %d RESULT(S) DIFFER FROM LIBXML2 !!!" % len(mismatches))
        for m in mismatches:
            print("!!! " + m)
        return 1
    print("%d results equal libxml2's" % compared)
    if unchecked:
        print("%d results without a libxml2 result to check against" % unchecked)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
