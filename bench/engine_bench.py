#!/usr/bin/env python3
"""Cost per row of each morvanfn function inside the real engine.

One embedded engine, one database of generated rows, one isql-fb run: every
function as our UDF and as our UDR, beside each an empty UDF and an empty UDR
of the very same declaration (the engine's own work on that declaration's
messages, so that function - empty is the module's own), the engine's
built-in functions doing the same work, the stock ib_udf twins where they
exist, and empty calls taking a VARCHAR of 255, 4095 and 32765 bytes (what a
declared size costs).  The variants alternate, each query runs once to warm
up and then --repeat times; the median counts.

usage: firebird.sh ENGINE run python3 engine_bench.py BUILD_DIR [--rows N] [--repeat N] [--out DIR]
Writes engine.md (the tables) and engine.png (the chart) into --out.  The
engine is the one that scripts/firebird.sh runs it with; where that engine
has no stock ib_udf, its column stays empty.  With a Windows engine under
wine, BUILD_DIR is a Windows build (the DLLs, and tests/wine's fbsql.exe in
isql's place); the empty twins, which have no Windows build, are left out,
and the table says it is wine's.
"""
import argparse
import datetime
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)

# The functions, each with what a row computes from it: a text result is
# counted with CHAR_LENGTH so that every row's value is used, and SUM keeps
# the output small.  {f} is the function's SQL name in each variant.
FUNCTIONS = [
    ("FN_SHORTDATE", "SUM(CHAR_LENGTH({f}()))",
     "SUM(CHAR_LENGTH(LPAD(MOD(EXTRACT(YEAR FROM CURRENT_DATE), 100), 2, '0') || '-' || "
     "LPAD(EXTRACT(MONTH FROM CURRENT_DATE), 2, '0') || '-' || LPAD(EXTRACT(DAY FROM CURRENT_DATE), 2, '0') || '-'))"),
    ("FN_CURRYR", "SUM({f}())", "SUM(EXTRACT(YEAR FROM CURRENT_DATE))"),
    ("FN_STRLEN", "SUM({f}(a))", "SUM(CHAR_LENGTH(a))"),
    ("FN_STRCAT", "SUM(CHAR_LENGTH({f}(a, b)))", "SUM(CHAR_LENGTH(TRIM(TRAILING FROM a) || TRIM(TRAILING FROM b)))"),
    ("FN_FULLCAT", "SUM(CHAR_LENGTH({f}(a, b)))", "SUM(CHAR_LENGTH(a || b))"),
    ("FN_PAD", "SUM(CHAR_LENGTH({f}(n, w)))", "SUM(CHAR_LENGTH(LPAD(n, w, '0')))"),
]
IB_UDF_QUERIES = {"FN_STRLEN": "SUM(IB_STRLEN(a))", "FN_PAD": "SUM(CHAR_LENGTH(IB_LPAD(n, w, '0')))"}
# Each variant's name for the function: ours, and empty twins of the very
# same declaration, whose cost is the engine's alone.
VARIANTS = [("UDF", "{fn}"), ("empty UDF", "EMPTY_UDF_{fn}"), ("UDR", "UDR_{fn}"), ("empty UDR", "EMPTY_UDR_{fn}")]
# What a declared text costs: empty calls taking a VARCHAR of each size.
SIZES = [255, 4095, 32765]


def queries(has_ib_udf, has_empties, has_udf):
    q = [("row source", "-", "SUM(n)")]
    for fn, expr, builtin in FUNCTIONS:
        for variant, name in VARIANTS:
            if (has_empties or not variant.startswith("empty")) and (has_udf or "UDF" not in variant):
                q.append((fn, variant, expr.format(f=name.format(fn=fn))))
        q.append((fn, "built-in", builtin))
        if has_ib_udf and fn in IB_UDF_QUERIES:
            q.append((fn, "ib_udf", IB_UDF_QUERIES[fn]))
    if has_empties:
        for size in SIZES:
            if has_udf:
                q.append((f"VARCHAR({size})", "empty UDF", f"SUM(EMPTY_UDF_V{size}(a))"))
            q.append((f"VARCHAR({size})", "empty UDR", f"SUM(EMPTY_UDR_V{size}(a))"))
    return q


IB_UDF = """
DECLARE EXTERNAL FUNCTION IB_STRLEN CSTRING(32767) RETURNS INTEGER BY VALUE
    ENTRY_POINT 'IB_UDF_strlen' MODULE_NAME 'ib_udf';
DECLARE EXTERNAL FUNCTION IB_LPAD CSTRING(255), INTEGER, CSTRING(1) RETURNS CSTRING(255) FREE_IT
    ENTRY_POINT 'IB_UDF_lpad' MODULE_NAME 'ib_udf';
"""


def empties(declare, declare_udr, has_udf):
    """The empty twins: declare.sql and declare_udr.sql's declarations on the
    benchmark's modules, and the empty calls of each text size (the UDR's
    alone where the engine calls no UDF)."""
    udf = re.sub(r"DECLARE EXTERNAL FUNCTION FN_", "DECLARE EXTERNAL FUNCTION EMPTY_UDF_FN_", declare)
    udf = re.sub(r"ENTRY_POINT '_fn_(\w+)' MODULE_NAME 'morvanfn'", r"ENTRY_POINT 'empty_fn_\1' MODULE_NAME 'bench_empty_udf'", udf)
    udr = re.sub(r"CREATE FUNCTION FN_", "CREATE FUNCTION EMPTY_UDR_FN_", declare_udr)
    udr = re.sub(r"EXTERNAL NAME 'morvanfn_udr!\w+'", "EXTERNAL NAME 'bench_empty_udr!empty'", udr)
    sizes = "".join(
        f"DECLARE EXTERNAL FUNCTION EMPTY_UDF_V{n} VARCHAR({n}) CHARACTER SET NONE RETURNS SMALLINT BY VALUE "
        f"ENTRY_POINT 'empty_varchar' MODULE_NAME 'bench_empty_udf';\n"
        f"CREATE FUNCTION EMPTY_UDR_V{n} (s VARCHAR({n}) CHARACTER SET NONE) RETURNS SMALLINT "
        f"EXTERNAL NAME 'bench_empty_udr!empty' ENGINE UDR;\n" for n in SIZES)
    if not has_udf:
        udf = ""
        sizes = "".join(line + "\n" for line in sizes.splitlines() if line.startswith("CREATE FUNCTION"))
    return udf + udr + sizes + "COMMIT;\n"


SETUP = """
CREATE TABLE t (n INTEGER, w INTEGER, a VARCHAR(40) CHARACTER SET NONE, b VARCHAR(40) CHARACTER SET NONE);
COMMIT;
SET TERM ^;
EXECUTE BLOCK AS
DECLARE i INTEGER = 0;
BEGIN
  WHILE (i < {rows}) DO
  BEGIN
    INSERT INTO t VALUES (:i, 10, 'customer ' || :i || '   ', 'city ' || MOD(:i, 1000) || ' ');
    i = i + 1;
  END
END^
SET TERM ;^
COMMIT;
"""


def run(cmd):
    return subprocess.run(cmd, check=True, text=True, capture_output=True)


WINDOWS = os.environ.get("FB_PLATFORM") == "windows"
# Firebird 6 calls no UDF declared as declare.sql declares them (a text
# result fails at prepare, the rest crash the server): its UDR alone.
HAS_UDF = not os.environ.get("FB_LINE", "").startswith("6.")


def isql(env, db, script):
    if WINDOWS:
        # fbsql.exe under wine, in the engine's root; paths through wine's Z:.
        root = env["MORVANFN_ROOT"]
        path = os.path.join(root, "script.sql")
        with open(path, "w") as f:
            f.write(script)
        create = re.match(r"CREATE DATABASE '(.*)';", script)
        windows = lambda p: "Z:" + p.replace("/", "\\")
        cmd = ["wine", "fbsql.exe"] + (["-create", windows(create.group(1))] if create else [windows(db), windows(path)])
        out = subprocess.run(cmd, text=True, capture_output=True, env=env, cwd=root)
        out.stdout = out.stdout.replace("\r", "")
    else:
        out = subprocess.run(["isql-fb", "-q", "-m", db], input=script, text=True, capture_output=True, env=env)
    if "Statement failed" in out.stdout or out.returncode:
        sys.exit("isql-fb failed:\n" + out.stdout + out.stderr)
    return out.stdout


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rows", type=int, default=1_000_000)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--out")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    out_dir = os.path.abspath(args.out or os.path.join(build, "bench"))
    work = os.path.join(out_dir, "engine")
    root = os.path.join(work, "root")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    if "FB_ENGINE" not in os.environ:
        sys.exit("run me through scripts/firebird.sh ENGINE run")
    firebird = ["sh", os.path.join(TOP, "scripts", "firebird.sh"), os.environ["FB_ENGINE"], "root", root]
    if WINDOWS:
        has_ib_udf = False
        run(firebird + [os.path.join(root, "udf")])
        os.makedirs(os.path.join(root, "udf"))
        shutil.copy(os.path.join(build, "morvanfn.dll"), os.path.join(root, "udf"))
        shutil.copy(os.path.join(build, "morvanfn_udr.dll"), os.path.join(root, "plugins", "udr"))
        for program in ["fbsql.exe", "ib_util.dll"]:
            shutil.copy(os.path.join(build, program), root)
    else:
        ib_udf_dir = os.environ["FB_UDF_DIR"]
        has_ib_udf = os.path.exists(os.path.join(ib_udf_dir, "ib_udf.so"))
        bench_modules = os.path.join(build, "bench")
        run(firebird + [f"{build};{bench_modules};{ib_udf_dir}",
                        f"Providers = {os.environ['FB_PROVIDER']}", "DefaultDbCachePages = 50000"])
        for module in [os.path.join(build, "libmorvanfn_udr.so"), os.path.join(bench_modules, "libbench_empty_udr.so")]:
            shutil.copy(module, os.path.join(root, "udr"))
    env = dict(os.environ, FIREBIRD=root, FIREBIRD_LOCK=os.path.join(root, "lock"),
               FIREBIRD_TMP=os.path.join(root, "tmp"), ISC_USER="SYSDBA")
    env.pop("ISC_PASSWORD", None)
    if WINDOWS:
        # The Windows engine finds its root beside fbclient.dll.
        env = dict(os.environ, ISC_USER="SYSDBA", MORVANFN_ROOT=root)

    db = os.path.join(work, "BENCH.FDB" if WINDOWS else "bench.fdb")
    isql(env, "", f"CREATE DATABASE '{db}';")
    with open(os.path.join(TOP, "sql", "declare.sql")) as f:
        declare = f.read()
    with open(os.path.join(TOP, "sql", "declare_udr.sql")) as f:
        declare_udr = f.read()
    if HAS_UDF:
        isql(env, db, declare)
    isql(env, db, re.sub(r"CREATE FUNCTION FN_", "CREATE FUNCTION UDR_FN_", declare_udr))
    # The empty twins where their modules are built (not for Windows).
    has_empties = not WINDOWS
    if has_empties:
        isql(env, db, empties(declare, declare_udr, HAS_UDF))
    print(f"generating {args.rows:,} rows ...", flush=True)
    has_ib_udf = has_ib_udf and HAS_UDF
    isql(env, db, (IB_UDF if has_ib_udf else "") + SETUP.format(rows=args.rows))
    queries = globals()["queries"](has_ib_udf, has_empties, HAS_UDF)

    # Warm-up round, then the measured rounds, variants alternating.
    script = ["SET LIST ON;", "SET STATS ON;"]
    for rnd in range(args.repeat + 1):
        for i, (_, _, expr) in enumerate(queries):
            script.append(f"SELECT {expr} AS q_{rnd}_{i} FROM t;")
    print(f"running {len(queries)} queries x {args.repeat} repetitions (and one warm-up) ...", flush=True)
    output = isql(env, db, "\n".join(script) + "\n")

    times = {i: [] for i in range(len(queries))}
    current = None
    for line in output.splitlines():
        m = re.match(r"Q_(\d+)_(\d+)\s", line)
        if m:
            current = (int(m.group(1)), int(m.group(2)))
        m = re.match(r"Elapsed time\s*=\s*([\d.]+) sec", line)
        if m and current:
            if current[0] > 0:
                times[current[1]].append(float(m.group(1)))
            current = None
    ns = {}
    for i, (fn, variant, _) in enumerate(queries):
        if len(times[i]) != args.repeat:
            sys.exit(f"no timing for {fn} {variant}")
        ns[(fn, variant)] = statistics.median(times[i]) / args.rows * 1e9

    report(ns, args, out_dir)


def fmt(x):
    return "-" if x is None else f"{x:,.0f}"


def ratio(a, b):
    return "-" if a is None or b is None or b <= 0 else f"{a / b:.2f}"


def report(ns, args, out_dir):
    base = ns[("row source", "-")]
    less = lambda a, b: None if a is None or b is None else a - b
    version = subprocess.run(["sh", os.path.join(TOP, "scripts", "firebird.sh"), os.environ["FB_ENGINE"], "version"],
                             text=True, capture_output=True, input="").stdout.strip()
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    lines = [
        f"Machine: {cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}; "
        f"engine: {version.strip()} (embedded{', under wine: compare within this table only' if WINDOWS else ''}); "
        f"date: {datetime.date.today()}.",
        f"{args.rows:,} rows, median of {args.repeat} runs, elapsed time per row in ns. "
        f"Row source alone (`SELECT SUM(n)`): {base:,.0f} ns.",
        "",
        "| function | UDF | empty UDF | UDF own cost | UDR | empty UDR | UDR own cost | built-in | ib_udf |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    rows = []
    for fn, _, _ in FUNCTIONS:
        v = {variant: ns.get((fn, variant)) for variant in ["UDF", "empty UDF", "UDR", "empty UDR", "built-in", "ib_udf"]}
        rows.append((fn, v))
        lines.append(
            f"| {fn} | {fmt(v['UDF'])} | {fmt(v['empty UDF'])} | {fmt(less(v['UDF'], v['empty UDF']))} "
            f"| {fmt(v['UDR'])} | {fmt(v['empty UDR'])} | {fmt(less(v['UDR'], v['empty UDR']))} "
            f"| {fmt(v['built-in'])} | {fmt(v['ib_udf'])} |")
    lines += [
        "",
        "empty UDF, empty UDR: a function of the very same declaration that reads nothing and returns the empty "
        "text or 0, so the engine's own work on that declaration's messages; own cost = function - empty of the "
        "same declaration (the module's work, within this machine's noise).",
    ]
    if ("VARCHAR(255)", "empty UDR") in ns:
        lines += ["", "What a declared text costs a call (an empty function taking one VARCHAR of that size, "
                  "a 20-byte text in it), ns per row above the row source:", "",
                  "| declared | empty UDF | empty UDR |", "|---|---:|---:|"]
        for size in SIZES:
            lines.append(f"| VARCHAR({size}) | {fmt(less(ns.get((f'VARCHAR({size})', 'empty UDF')), base))} "
                         f"| {fmt(less(ns[(f'VARCHAR({size})', 'empty UDR')], base))} |")
    md = "\n".join(lines) + "\n"
    print()
    print(md)
    with open(os.path.join(out_dir, "engine.md"), "w") as f:
        f.write(md)

    data = os.path.join(out_dir, "engine.dat")
    shown = ["UDF", "empty UDF", "UDR", "empty UDR", "built-in"]
    with open(data, "w") as f:
        f.write("function " + " ".join(f'"{v}"' for v in shown) + "\n")
        for fn, v in rows:
            f.write(fn + " " + " ".join("-" if v[k] is None else f"{v[k]:.1f}" for k in shown) + "\n")
    png = os.path.join(out_dir, "engine.png")
    if shutil.which("gnuplot"):
        subprocess.run(["gnuplot"], check=True, text=True, input=f"""
set terminal pngcairo size 1000,520 noenhanced font ',10'
set output '{png}'
set title 'morvanfn: cost per row through the engine, {args.rows:,} rows (row source {base:.0f} ns/row)'
set ylabel 'ns per row'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set datafile missing '-'
set key top left
set grid ytics
set yrange [0:*]
plot for [i=2:6] '{data}' using i:xtic(1) title columnheader
""")
        print(f"table: {os.path.join(out_dir, 'engine.md')}\nchart: {png}")
    else:
        print("gnuplot not found: no chart (Debian: apt-get install gnuplot-nox)")


if __name__ == "__main__":
    main()
