#!/usr/bin/env python3
"""Independent check of a travik report from the score table on: the score table, the
goodness-of-fit block, the binary margins, the observed/expected table and the nominal and
ordinal margins.

usage: check_report.py TRAVIK DECK REPORT

TRAVIK is the travik program; it is run once on a copy of DECK that saves the estimates
(ISAVE = 1), to read them with 4 decimals. Everything else is recomputed here from the deck
and those estimates: layouts by fixed-width slicing of every line, counts exactly, model
quantities to a tolerance that covers the rounding of the estimates. Used to check the
golden reports whenever they are produced again.
"""
import math, os, re, shutil, struct, subprocess, sys, tempfile
from collections import OrderedDict

travik, deck_path, report_path = sys.argv[1:4]
# The program runs in a folder of its own: a relative path must still find it.
travik = os.path.abspath(travik)
problems = []
checks = 0


def fail(msg):
    problems.append(msg)


def check(cond, msg):
    global checks
    checks += 1
    if not cond:
        fail(msg)


def f32(x):
    return struct.unpack('f', struct.pack('f', x))[0]


def saved_estimates():
    lines = open(deck_path).read().split('\n')
    control = lines[4].split()
    control[3] = '1'
    lines[4] = ' '.join(control)
    folder = tempfile.mkdtemp()
    try:
        open(os.path.join(folder, 'LAT.INP'), 'w').write('\n'.join(lines))
        subprocess.run([travik], cwd=folder, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        return open(os.path.join(folder, 'LI8.OUT')).read()
    finally:
        shutil.rmtree(folder)


# ---------------------------------------------------------------- deck
D = open(deck_path).read().split('\n')
NCASE, NB, NN, NC, NO, NQREQ = map(int, D[1].split())
C = list(map(int, D[2].split()))
O = list(map(int, D[3].split()))
ctl = D[4].split()
NF = int(ctl[0]); IPRS = int(ctl[5])
vals = []
for l in D[5:]:
    vals += [float(t) for t in l.replace(',', ' ').split()]
NV = NB + NN + NC + NO
X = [vals[k * NV:(k + 1) * NV] for k in range(NCASE)]
assert len(X) == NCASE and all(len(r) == NV for r in X)
tr = lambda v: math.trunc(v)
miss = lambda v: tr(v) == 999
PMISS = [sum(1 for r in X if miss(r[i])) / NCASE for i in range(NV)]
P1 = [sum(1 for r in X if tr(r[i]) == 1) / NCASE for i in range(NB)]

# ---------------------------------------------------------------- estimates (LI8 layout)
est = [list(map(float, l.split())) for l in saved_estimates().split('\n') if l.strip()]
it = iter(est)
AB = [next(it) + [0.0] * (3 - NF - 1) for _ in range(NB)]
NORM = []
for _ in range(NN):
    r = next(it)
    NORM.append((r[0], r[1], 0.0, r[2]) if NF == 1 else tuple(r))
AC = []
for i in range(NC):
    cats = {1: [0.0, 0.0, 0.0]}
    for j in range(2, C[i] + 1):
        r = next(it); cats[j] = r + [0.0] * (3 - len(r))
    AC.append(cats)
THR, AO = [], []
for i in range(NO):
    THR.append([None] + [next(it)[0] for _ in range(O[i] - 1)])
    r = next(it); AO.append([0.0] + r + [0.0] * (2 - len(r)))

# ---------------------------------------------------------------- quadrature
def hermite(n, x):
    h0, h1 = 1.0, 2 * x
    if n == 0: return h0
    for k in range(1, n):
        h0, h1 = h1, 2 * x * h1 - 2 * k * h0
    return h1

def gh(n):
    roots = []
    grid = [-10 + 20 * i / 200000 for i in range(200001)]
    prev = hermite(n, grid[0])
    for a, b in zip(grid, grid[1:]):
        hb = hermite(n, b)
        if prev == 0 or prev * hb < 0:
            lo, hi = a, b
            for _ in range(200):
                mid = (lo + hi) / 2
                if hermite(n, lo) * hermite(n, mid) <= 0: hi = mid
                else: lo = mid
            roots.append((lo + hi) / 2)
        prev = hb
    assert len(roots) == n, (n, len(roots))
    w = [2 ** (n - 1) * math.factorial(n) * math.sqrt(math.pi) / (n * n * hermite(n - 1, x) ** 2) for x in roots]
    return [math.sqrt(2) * x for x in roots], [v / math.sqrt(math.pi) for v in w]

stored = {8: 8, 16: 16, 24: 20, 32: 24, 48: 30}[NQREQ]
qz, qw = gh(NQREQ)
drop = (NQREQ - stored) // 2
qz, qw = qz[drop:drop + stored], qw[drop:drop + stored]
NQ = stored
if NF == 1:
    nodes = [(qz[t], 0.0, qw[t]) for t in range(NQ)]
else:
    nodes = [(qz[a], qz[b], qw[a] * qw[b]) for a in range(NQ) for b in range(NQ)]

def logistic(v): return 1 / (1 + math.exp(-v))
K = 1 / f32(math.sqrt(f32(6.28318)))

def pb(i, z1, z2): a = AB[i]; return logistic(a[0] + a[1] * z1 + (a[2] * z2 if NF == 2 else 0))
def pc(i, c, z1, z2):
    e = {j: math.exp(AC[i][j][0] + AC[i][j][1] * z1 + (AC[i][j][2] * z2 if NF == 2 else 0)) for j in range(2, C[i] + 1)}
    s = 1 + sum(e.values())
    return 1 / s if c == 1 else e[c] / s
def cum(i, c, z1, z2):
    if c == 0: return 0.0
    if c == O[i]: return 1.0
    return logistic(THR[i][c] - AO[i][1] * z1 - (AO[i][2] * z2 if NF == 2 else 0))
def po(i, c, z1, z2): return cum(i, c, z1, z2) - cum(i, c - 1, z1, z2)
def dens(i, x, z1, z2):
    mu, l1, l2, psi = NORM[i]
    m = mu + l1 * z1 + (l2 * z2 if NF == 2 else 0)
    return K / math.sqrt(psi) * math.exp(-(x - m) ** 2 / (2 * psi))

def case_weights(row, binary_only=False):
    g = []
    for z1, z2, w in nodes:
        v = w
        for i in range(NB):
            t = tr(row[i])
            if t == 1: v *= pb(i, z1, z2)
            elif t == 0: v *= 1 - pb(i, z1, z2)
        if not binary_only:
            for i in range(NN):
                x = row[NB + i]
                if not miss(x): v *= dens(i, x, z1, z2)
            for i in range(NC):
                x = row[NB + NN + i]
                if not miss(x): v *= pc(i, tr(x), z1, z2)
            for i in range(NO):
                x = row[NB + NN + NC + i]
                if not miss(x): v *= po(i, tr(x), z1, z2)
        g.append(v)
    return g

def posterior(g):
    f = sum(g)
    out = []
    for f_ in (0, 1) if NF == 2 else (0,):
        m1 = sum(g[n] / f * nodes[n][f_] for n in range(len(g)))
        m2 = sum(g[n] / f * nodes[n][f_] ** 2 for n in range(len(g)))
        out.append((m1, math.sqrt(max(0.0, m2 - m1 * m1))))
    return f, out

# ---------------------------------------------------------------- fixed-width layouts
def parse_layout(layout):
    items = []
    for tok in re.findall(r"(\d+)X|(I)(\d+)|(F)(\d+)\.(\d+)|'([^']*)'", layout):
        if tok[0]: items.append(('X', int(tok[0])))
        elif tok[1]: items.append(('I', int(tok[2])))
        elif tok[3]: items.append(('F', int(tok[4]), int(tok[5])))
        else: items.append(('L', tok[6]))
    return items

def slice_line(line, items):
    """Returns the values of a line written with the layout, or None when it does not fit."""
    pos, out = 0, []
    for idx, item in enumerate(items):
        if item[0] == 'X':
            rest = items[idx:]
            if pos >= len(line) and all(r[0] == 'X' for r in rest): return out
            if line[pos:pos + item[1]] != ' ' * item[1]: return None
            pos += item[1]
        elif item[0] == 'L':
            if line[pos:pos + len(item[1])] != item[1]: return None
            pos += len(item[1])
        else:
            w = item[1]
            field = line[pos:pos + w]
            if len(field) != w: return None
            if field == '*' * w: out.append(None)
            elif item[0] == 'I':
                if not re.fullmatch(r' *-?\d+', field): return None
                out.append(int(field))
            else:
                d = item[2]
                if not re.fullmatch(r' *-?\d*\.\d{%d}' % d, field): return None
                out.append(float(field))
            pos += w
    return out if pos == len(line) else None

def expect_line(line, layout, where):
    v = slice_line(line, parse_layout(layout))
    check(v is not None, f'{where}: line does not fit {layout!r}: {line!r}')
    return v

def i2(v):
    t = tr(v)
    s = str(t)
    return s.rjust(2) if len(s) <= 2 else '**'

def close(a, b, tol, msg):
    check(a is not None and abs(a - b) <= tol, f'{msg}: printed {a}, recomputed {b:.6f} (tol {tol})')

# ---------------------------------------------------------------- the report
R = open(report_path).read().split('\n')
assert R[-1] == ''
R = R[:-1]
start = R.index('***Standardized Loadings***')
pos = start + 1
while pos < len(R) and not R[pos].startswith('***Scoring') and not R[pos].startswith('***Goodness') \
        and not R[pos].startswith('****First') and not R[pos].startswith('***First'):
    pos += 1
rest = R[pos - 2:]
cursor = 0

def take(n=1):
    global cursor
    lines = rest[cursor:cursor + n]
    cursor += n
    return lines

def expect_text(texts, where):
    for t in texts:
        got = take()[0] if cursor < len(rest) else None
        check(got == t, f'{where}: expected {t!r}, found {got!r}')

# Score table
weights = [case_weights(r) for r in X]
post = [posterior(g) for g in weights]
if IPRS == 1:
    expect_text(['', '', '***Scoring Response Patterns***', '', ''], 'score table')
    ordinal = NO > 0
    if NF == 1 and not ordinal:
        col, layout = 'E(Z1/X)    SD1    CSCORE    ITOTAL    RESPONSE PATTERN', "F7.3 3X F6.3 3X F6.2 3X F6.2 3X"
    elif NF == 2 and not ordinal:
        col, layout = 'E(Z1/X)  SD1  E(Z2/X)  SD2    CS1    CS2    RESPONSES', "F6.2 1X " * 6
    elif NF == 1:
        col, layout = 'E(Z1/X)    SD1    ITOTAL    RESPONSE PATTERN', "F7.3 3X F6.3 3X F6.2 3X"
    else:
        col, layout = 'E(Z1/X)  SD1  E(Z2/X)  SD2  RESPONSES', "F6.2 1X " * 4
    expect_text([col, ''], 'score table')
    used = [False] * NCASE
    previous = -1e9
    for r in range(NCASE):
        line = take()[0]
        head_len = sum(i[1] if i[0] in 'XIF' else len(i[1]) for i in parse_layout(layout))
        v = expect_line(line[:head_len], layout, f'score row {r + 1}')
        resp = line[head_len:]
        check(len(resp) == 2 * NV, f'score row {r + 1}: responses {resp!r}')
        cand = [k for k in range(NCASE) if not used[k] and ''.join(i2(x) for x in X[k]) == resp]
        check(bool(cand), f'score row {r + 1}: no unused case with responses {resp!r}')
        if not cand or v is None: continue
        k = min(cand, key=lambda k: (abs(post[k][1][0][0] - v[0]), k))
        used[k] = True
        ez1, sd1 = post[k][1][0]
        tol = 0.0015 if NF == 1 else 0.02
        close(v[0], ez1, tol, f'score row {r + 1} E(Z1/X)')
        close(v[1], sd1, tol, f'score row {r + 1} SD1')
        check(v[0] >= previous, f'score row {r + 1}: not in ascending order')
        previous = v[0]
        # component score and case total
        def comp(f):
            s = 0.0
            for i in range(NB):
                if tr(X[k][i]) == 1: s += AB[i][f]
            for i in range(NN):
                x = X[k][NB + i]
                if not miss(x): s += x * NORM[i][f] / NORM[i][3]
            for i in range(NC):
                x = X[k][NB + NN + i]
                if not miss(x): s += AC[i][tr(x)][f]
            return s
        total = sum(x for x in X[k] if not miss(x))
        if NF == 1:
            close(v[-1], total, 0.0051, f'score row {r + 1} ITOTAL')
            if not ordinal: close(v[2], comp(1), 0.01, f'score row {r + 1} CSCORE')
        else:
            ez2, sd2 = post[k][1][1]
            close(v[2], ez2, tol, f'score row {r + 1} E(Z2/X)')
            close(v[3], sd2, tol, f'score row {r + 1} SD2')
            if not ordinal:
                close(v[4], comp(1), 0.01, f'score row {r + 1} CS1')
                close(v[5], comp(2), 0.01, f'score row {r + 1} CS2')
    check(all(used), 'score table: not every case listed once')

def first_occurrence(cols):
    pats = OrderedDict()
    for k, r in enumerate(X):
        key = tuple(tr(r[c]) for c in cols)
        if key not in pats: pats[key] = [0, k]
        pats[key][0] += 1
    return pats

if NB > 0:
    pats = first_occurrence(range(NB))
    # Fit block
    S = sum(f * f32(math.log(f / NCASE)) for f, _ in pats.values())
    L0 = 0.0
    for r in X:
        p = 1.0
        for i in range(NB):
            t = tr(r[i])
            if t == 1: p *= P1[i]
            elif t == 0: p *= 1 - P1[i] - PMISS[i]
        L0 += math.log(p)
    expect_text(['', '', '***Goodness-of-Fit Measures***', '', ''], 'fit block')
    layouts = ["' % OF G-SQUARE EXPLAINED ' F11.4", "'  LOGLIKELIHOOD VALUE     ' F11.4",
             "'  LIKELIHOOD RATIO STAT.  ' F12.5", "'  CHI-SQUARE FOR OBS RESP PATTERNS  ' F11.4",
             "'  CHI-SQUARE FOR ALL RESP PATTERNS  ' F11.4", "'  DEGREES OF FREEDOM      ' I7"]
    got = [expect_line(take()[0], s, 'fit block') for s in layouts]
    expect_text([''], 'fit block')
    got = [g[0] if g else None for g in got]
    logl = got[1]
    loglall = sum(math.log(sum(g)) for g in weights)
    close(logl, loglall, 0.01, 'loglikelihood from the estimates')
    close(got[0], 100 * (logl - L0) / (S - L0), 0.0002 * max(1, abs(got[0] or 0)), '% explained')
    F, M = [], []
    for key, (f, k) in pats.items():
        g = case_weights(list(key) + [0] * (NV - NB), binary_only=True)
        fi, pm = posterior(g)
        F.append(fi); M.append(pm[0][0])
    order = sorted(range(len(F)), key=lambda i: M[i])
    freqs = [list(pats.values())[i][0] for i in order]
    E = [NCASE * F[i] for i in order]
    gp = x2 = eu = 0.0; groups = 0; o = e = 0.0
    for idx in range(len(E)):
        if freqs[idx] == 0: continue
        o += freqs[idx]; e += E[idx]
        if e >= 5:
            stop = False
            if idx < len(E) - 1:
                later = sum(E[idx + 1:])
                if later < 5: o += sum(freqs[idx + 1:]); e += later; stop = True
            gp += o * math.log(o / e); x2 += (o - e) ** 2 / e; eu += e; groups += 1; o = e = 0.0
            if stop: break
    df = groups - (1 if groups >= 2 ** NB else 0) - (2 if NF == 1 else 3) * NB
    close(got[2], 2 * gp, 0.01 * max(1, abs(2 * gp)), 'likelihood ratio')
    close(got[3], x2, 0.01 * max(1, abs(x2)), 'chi-square observed')
    close(got[4], x2 + NCASE - eu, 0.01 * max(1, abs(x2 + NCASE - eu)), 'chi-square all')
    check(got[5] == df, f'degrees of freedom: printed {got[5]}, recomputed {df}')

    # Binary margins
    expect_text(['', '', '', '**First and Second Order Observed and Expected Margins**', '', ''], 'marginb')
    header = "     I     J   OBSER    EXPECT      OBS-EXP    ((O-E)**2)/E"
    def m1(i, a): return sum(w * (pb(i, z1, z2) if a else 1 - pb(i, z1, z2)) for z1, z2, w in nodes)
    def m2(i, a, j, b):
        return sum(w * (pb(i, z1, z2) if a else 1 - pb(i, z1, z2)) * (pb(j, z1, z2) if b else 1 - pb(j, z1, z2)) for z1, z2, w in nodes)
    for n, (a, b, diag) in enumerate([(1, 1, True), (1, 0, False), (0, 1, False), (0, 0, True)]):
        if n: expect_text(['', ''], 'marginb')
        expect_text([' ' * 15 + f'RESPONSE ({a},{b}) to ITEMS (I,J)', '', header, ''], 'marginb')
        for i in range(NB):
            for j in range(i + 1 if diag else i):
                v = expect_line(take()[0], "3X I3 3X I3 3X I5 3X F9.4 3X F9.4 3X F9.4", 'marginb row')
                if v is None: continue
                check(v[:2] == [i + 1, j + 1], f'marginb ({a},{b}) row indices {v[:2]}')
                if i == j:
                    obs = sum(1 for r in X if tr(r[i]) == a)
                    exp = NCASE * (1 - PMISS[i]) * m1(i, a)
                else:
                    obs = sum(1 for r in X if tr(r[i]) == a and tr(r[j]) == b)
                    exp = NCASE * (1 - PMISS[i]) * (1 - PMISS[j]) * m2(i, a, j, b)
                check(v[2] == obs, f'marginb ({a},{b}) {i + 1},{j + 1}: observed {v[2]} != {obs}')
                close(v[3], exp, 0.003 * max(1, exp), f'marginb ({a},{b}) {i + 1},{j + 1} expected')
                close(v[4], v[2] - v[3], 0.00011, f'marginb ({a},{b}) {i + 1},{j + 1} O-E')
                close(v[5], (v[2] - v[3]) ** 2 / v[3], 0.0002 + 0.001 * abs(v[5]), f'marginb ({a},{b}) {i + 1},{j + 1} contribution')
    expect_text(['', '', ' ' * 10 + 'Third Order Observed and Expected Margins', '', '',
                 ' ' * 15 + 'RESPONSE (1,1,1) to ITEMS (I,J,J1)', '',
                 "     I     J     J1   OBSER    EXPECT      OBS-EXP    ((O-E)**2)/E", ''], 'marginb third')
    for i in range(NB):
        for j in range(i + 1, NB):
            for k3 in range(j + 1, NB):
                v = expect_line(take()[0], "3X I3 3X I3 3X I3 3X I5 3X F9.4 3X F9.4 3X F9.4", 'third row')
                if v is None: continue
                obs = sum(1 for r in X if tr(r[i]) == 1 and tr(r[j]) == 1 and tr(r[k3]) == 1)
                exp = NCASE * sum(w * pb(i, z1, z2) * pb(j, z1, z2) * pb(k3, z1, z2) for z1, z2, w in nodes)
                check(v[:4] == [i + 1, j + 1, k3 + 1, obs], f'third order {v[:4]}')
                close(v[4], exp, 0.003 * max(1, exp), f'third order {i + 1},{j + 1},{k3 + 1} expected')
    # Observed/expected table
    expect_text(['', '', 'OBSERVED    EXPECTED    RESPONSE PATTERN', ''], 'obs/exp')
    total = 0.0
    for idx, (key, (f, k)) in enumerate(pats.items()):
        line = take()[0]
        v = expect_line(line[:27], "I5 5X F10.3 7X", 'obs/exp row')
        check(line[27:] == ''.join(i2(x) for x in key), f'obs/exp responses {line!r}')
        if v is None: continue
        check(v[0] == f, f'obs/exp frequency {v[0]} != {f}')
        # The pattern's probability over the binary items alone.
        exp = NCASE * F[idx]
        close(v[1], exp, 0.002 + 0.005 * exp, f'obs/exp expected of pattern {idx + 1}')
        total += v[1]
    expect_text([''], 'obs/exp')
    v = expect_line(take()[0], "I5 1X F9.3", 'obs/exp total')
    if v:
        check(v[0] == NCASE, 'obs/exp total NCASE')
        close(v[1], total, 0.0006 * len(pats), 'obs/exp total')

def poly(nominal):
    n = NC if nominal else NO
    cats = C if nominal else O
    base = NB + NN + (0 if nominal else NC)
    prob = (lambda i, c, z1, z2: pc(i, c, z1, z2)) if nominal else (lambda i, c, z1, z2: po(i, c, z1, z2))
    title = '****First Order Observed and Expected Margins****' if nominal else '***First Order Observed and Expected Margins***'
    expect_text(['', '', title, '', '', '   ITEM I1  (I1,J1)  OBSER   EXPECT   OBS-EXP    SQ(O-E)/E', ''], 'poly')
    for i in range(n):
        for c in range(1, cats[i] + 1):
            v = expect_line(take()[0], "4X I3 4X I3 7X I5 3X F9.4 3X F9.4 3X F9.4", 'poly first')
            if v is None: continue
            obs = sum(1 for r in X if tr(r[base + i]) == c)
            exp = NCASE * sum(w * prob(i, c, z1, z2) for z1, z2, w in nodes)
            check(v[:3] == [i + 1, c, obs], f'poly first {v[:3]} vs {obs}')
            close(v[3], exp, 0.003 * max(1, exp), f'poly first {i + 1},{c} expected')
            close(v[5], (v[2] - v[3]) ** 2 / v[3], 0.0002 + 0.001 * abs(v[5]), 'poly first contribution')
    expect_text(['', '', '***Second Order Observed and Expected Margins***', '', '',
                 '  ITEM I1  ITEM I2   J1     J2    OBSER   EXPECT   OBS-EXP    SQ(O-E)/E', ''], 'poly second')
    for i in range(n):
        for j in range(i + 1, n):
            s = 0.0
            for c in range(1, cats[i] + 1):
                for d in range(1, cats[j] + 1):
                    v = expect_line(take()[0], "4X I3 4X I3 4X I3 4X I3 3X I5 3X F9.4 3X F9.4 3X F9.4", 'poly pair')
                    if v is None: continue
                    obs = sum(1 for r in X if tr(r[base + i]) == c and tr(r[base + j]) == d)
                    exp = NCASE * sum(w * prob(i, c, z1, z2) * prob(j, d, z1, z2) for z1, z2, w in nodes)
                    check(v[:5] == [i + 1, j + 1, c, d, obs], f'poly pair {v[:5]} vs {obs}')
                    close(v[5], exp, 0.003 * max(1, exp), 'poly pair expected')
                    s += v[7]
            v = expect_line(take()[0], "40X '                   Sum=' F9.4", 'poly sum')
            if v: close(v[0], s, 0.0001 * cats[i] * cats[j] + 1e-9, 'poly Sum=')

if NC > 0: poly(True)
if NO > 0: poly(False)

# Model comparison: the parameters counted per item type, the loglikelihood the fit ended at
# (the last Newton step of the convergence check, or else the last cycle line), and the
# criteria recomputed from them.
iterations = [v for v in (slice_line(l, parse_layout("I5 3X F10.5 3X F15.5")) for l in R) if v]
steps = []
if '***Convergence Check***' in R:
    at = R.index('***Convergence Check***')
    for l in R[at:]:
        if l.startswith('  LARGEST ABSOLUTE GRADIENT'): break
        m = re.fullmatch(r' {0,5}(\d+) +(-?\d+\.\d{5}) +(\d\.\d{4}) +(\d\.\d{3}E[-+]\d\d)', l)
        if m: steps.append((int(m.group(1)), float(m.group(2))))
params = NB * (1 + NF) + NN * (2 + NF) + sum((c - 1) * (1 + NF) for c in C[:NC]) + \
    sum(o - 1 + NF for o in O[:NO]) - (1 if NF == 2 else 0)
expect_text(['', '', '***Model Comparison***', ''], 'comparison')
v = expect_line(take()[0], "'  NUMBER OF PARAMETERS    ' I15", 'comparison')
check(v == [params], f'parameters {v} vs {params}')
v = expect_line(take()[0], "'  LOGLIKELIHOOD           ' F15.5", 'comparison')
L = steps[-1][1] if steps else iterations[-1][2]
check(v == [L], f'loglikelihood {v} vs the fit\'s last line {L}')
for name, value in (('AIC', -2 * L + 2 * params), ('BIC', -2 * L + params * math.log(NCASE)),
                    ('SABIC', -2 * L + params * math.log((NCASE + 2) / 24))):
    v = expect_line(take()[0], "'  %-24s' F15.4" % name, 'comparison')
    if v: close(v[0], value, 0.00006, name)
# The convergence check: the cycles of the iteration table, Newton steps numbered from 1 whose
# loglikelihood never falls, their count as stated, and a certified maximum.
expect_text(['', '', '***Convergence Check***', ''], 'convergence')
block = []
while cursor < len(rest) and not rest[cursor].startswith('***'):
    block.append(take()[0])
def stated(label):
    hits = [l[38:].strip() for l in block if l.startswith('  ' + label.ljust(36))]
    check(len(hits) == 1, f'convergence: one line {label!r}, found {len(hits)}')
    return hits[0] if hits else ''
check(stated('EM CYCLES') == str(len(iterations)),
      f'convergence: EM cycles {stated("EM CYCLES")} vs {len(iterations)} cycle lines')
check([s[0] for s in steps] == list(range(1, len(steps) + 1)), 'convergence: steps not 1, 2, ...')
check(all(b[1] >= a[1] for a, b in zip(steps, steps[1:])), 'convergence: a step lowered LOGL')
if steps:
    check(stated('NEWTON STEPS') == str(len(steps)), 'convergence: NEWTON STEPS vs the step lines')
check(stated('MAXIMUM').startswith('CERTIFIED'), f'convergence: {stated("MAXIMUM")!r}')
# The blocks that judge the model. Limited-information fit: not available with normal or
# nominal items or missing responses, otherwise M2 (C2 with ordinal items) on as many degrees of
# freedom as there are margins (each item's categories but one, each pair's cross-product) less
# free parameters.
def section(title):
    global cursor
    while cursor < len(rest) and rest[cursor] == '':
        cursor += 1
    check(cursor < len(rest) and rest[cursor] == title, f'expected {title!r} at line {cursor}')
    cursor += 1
    lines = []
    while cursor < len(rest) and not rest[cursor].startswith('***'):
        lines.append(take()[0])
    return lines
any_missing = any(miss(v) for r in X for v in r)
lines = section('***Limited-Information Fit***')
if NN + NC > 0 or any_missing:
    check(any(l.startswith('  NOT AVAILABLE') for l in lines), 'limited fit: should be not available')
else:
    stated_df = [l[38:].strip() for l in lines if l.startswith('  DEGREES OF FREEDOM')]
    n = NB + NO
    margins = NB + sum(o - 1 for o in O[:NO]) + n * (n - 1) // 2
    check(stated_df == [str(margins - params)], f'limited fit: df {stated_df} vs {margins - params}')
section('***Item Fit (S-X2)***')
section('***Local Dependence (LD X2)***')
# IRT parameters from the saved estimates: a the loading, b = -intercept / a (one factor),
# MDISC and MDIFF (two factors), ordinal thresholds over a or MDISC.
if NB + NO > 0:
    lines = section('***IRT Parameters (Logistic Metric)***')
    shown = {}
    for l in lines:
        m = re.fullmatch(r' +(\d+)  (BINARY|ORDINAL) +(\S+) +(-?\d+\.\d{4}|N/A) +(-?\d+\.\d{4}|N/A)', l)
        if m: shown[(int(m.group(1)), m.group(3))] = m.group(4)
    def irt_close(item, name, value, scale):
        v = shown.get((item, name))
        check(v is not None, f'IRT: no {name} for item {item}')
        if v not in (None, 'N/A'):
            close(float(v), value, 0.00006 + 0.0001 * scale, f'IRT item {item} {name}')
    for i in range(NB):
        c, a1, a2 = AB[i][0], AB[i][1], AB[i][2] if NF == 2 else 0.0
        if NF == 1:
            irt_close(i + 1, 'A', a1, 0)
            if abs(a1) > 0.01: irt_close(i + 1, 'B', -c / a1, (1 + abs(c / a1)) / abs(a1))
        else:
            md = math.hypot(a1, a2)
            irt_close(i + 1, 'MDISC', md, 1)
            if md > 0.01: irt_close(i + 1, 'MDIFF', -c / md, (1 + abs(c / md)) / md)
    for i in range(NO):
        a = math.hypot(AO[i][1], AO[i][2] if NF == 2 else 0.0)
        for c in range(1, O[i]):
            if a > 0.01:
                irt_close(NB + NN + NC + i + 1, f'B({c})', THR[i][c] / a, (1 + abs(THR[i][c] / a)) / a)
# Full-pattern statistics are said to be invalid wherever their assumptions fail.
fit_invalid = NB > 0 and (NN + NC + NO > 0 or any(miss(v) for r in X for v in r))
notes_text = '\n'.join(rest[cursor:])
check(fit_invalid == ('THE GOODNESS-OF-FIT MEASURES ARE NOT VALID' in notes_text),
      'notes: the note on the full-pattern statistics')
# Notes and warnings close the report.
if cursor < len(rest):
    expect_text(['***Notes and Warnings***', ''], 'notes')
    while cursor < len(rest):
        line = take()[0]
        check(line == '' or line.startswith(' *** WARNING ***') or line.startswith(' NOTE: ')
              or line.startswith('   '), f'notes: unexpected line {line!r}')
check(cursor == len(rest), f'report has {len(rest) - cursor} lines after the last section')
print(f'{report_path}: {checks} checks, {len(problems)} problems')
for p in problems[:40]:
    print('  ', p)
sys.exit(1 if problems else 0)
