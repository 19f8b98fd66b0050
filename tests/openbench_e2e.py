#!/usr/bin/env python3
"""Velmora under the real OpenBench server, client and match runner, offline.

The server (Django on sqlite), an HTTP server for the source zip and the book,
and the client with one thread run on 127.0.0.1. The client builds the engine
twice with `make`, checks both benches, plays a node-limited SPRT and a DATAGEN
test opened by our genfens; the DATAGEN archive is downloaded, checked and
imported with velmora_data. Every process started here leads a session of its
own and is ended through it; a stand-in pkill on the client's PATH narrows the
client's `pkill -f NAME` to that session.

Usage: openbench_e2e.py --shared DIR --work DIR --tools BUILD_DIR
Prints one "PASS openbench ..." or "FAIL openbench ..." line per check.
"""

import argparse
import bz2
import hashlib
import io
import json
import math
import os
import re
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tarfile
import time
import urllib.parse
import urllib.request
import zipfile

USER, PASSWORD = 'e2e', 'velmora-e2e-password'
LOGIN = urllib.parse.urlencode({'username': USER, 'password': PASSWORD}).encode()
ENGINE = 'Velmora'
BOOK = 'velmora-e2e.epd'
DATAGEN_GAMES = 8
SPRT_NODES = 2000
DATAGEN_NODES = 5000

# Openings for the SPRT, in the EPD form OpenBench's books use.
BOOK_LINES = [
    'rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - hmvc 0; fmvn 2;',
    'rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - hmvc 0; fmvn 2;',
    'rnbqkbnr/pppp1ppp/4p3/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - hmvc 0; fmvn 2;',
    'rnbqkbnr/pp1ppppp/2p5/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - hmvc 0; fmvn 2;',
    'rnbqkbnr/ppp1pppp/8/3p4/3P4/8/PPP1PPPP/RNBQKBNR w KQkq - hmvc 0; fmvn 2;',
    'rnbqkb1r/pppppppp/5n2/8/3P4/8/PPP1PPPP/RNBQKBNR w KQkq - hmvc 1; fmvn 2;',
    'rnbqkbnr/pppppppp/8/8/2P5/8/PP1PPPPP/RNBQKBNR b KQkq - hmvc 0; fmvn 1;',
    'rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq - hmvc 1; fmvn 1;',
]

results = {'pass': 0, 'fail': 0}


def check(name, ok, detail=''):
    results['pass' if ok else 'fail'] += 1
    print('%s openbench %s%s' % ('PASS' if ok else 'FAIL', name, (': ' + detail) if detail else ''), flush=True)
    return ok


def note(text):
    print('openbench: ' + text, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Processes:
    """Processes this test started, each the leader of its own session."""

    def __init__(self):
        self.started = []

    def start(self, command, log, **kwargs):
        out = open(log, 'wb')
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True, **kwargs)
        out.close()
        self.started.append(process)
        return process

    def stop(self, process):
        # The session's id is the leader's pid. Its process group holds what
        # the leader started directly, but not all: ninja runs each compile
        # in a group of its own. Every live member of the session goes.
        for attempt in range(20):
            members = []
            for entry in filter(str.isdigit, os.listdir('/proc')):
                try:
                    with open('/proc/%s/stat' % entry) as f:
                        fields = f.read().rsplit(')', 1)[1].split()
                except OSError:
                    continue
                if int(fields[3]) == process.pid and fields[0] != 'Z':
                    members.append(int(entry))
            if not members:
                break
            for pid in members:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            try:
                process.wait(timeout=1)
            except subprocess.TimeoutExpired:
                pass
            time.sleep(0.05)

    def stop_all(self):
        for process in reversed(self.started):
            self.stop(process)
        self.started = []


def wait_http(url, deadline, data=None):
    while time.time() < deadline:
        try:
            urllib.request.urlopen(url, data=data, timeout=5).read()
            return True
        except Exception:
            time.sleep(0.3)
    return False


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kwargs)


def write(path, data):
    with open(path, 'wb' if isinstance(data, bytes) else 'w') as f:
        f.write(data)


# ---------------------------------------------------------------------------
# Preparation

def match_runner(shared, work):
    """Builds fastchess-ob once per source tarball (keyed by its checksum)."""
    tarball = os.path.join(shared, sorted(f for f in os.listdir(shared)
                                          if f.startswith('fastchess-ob-') and f.endswith('.tar.gz'))[-1])
    with open(tarball, 'rb') as f:
        key = hashlib.sha256(f.read()).hexdigest()[:16]
    binary = os.path.join(work, 'fastchess-ob-' + key, 'fastchess-ob')
    if os.path.isfile(binary):
        note('match runner %s (reused)' % binary)
        return binary
    note('building the match runner from %s (once; a few minutes)' % os.path.basename(tarball))
    source = os.path.join(work, 'fastchess-src-' + key)
    shutil.rmtree(source, ignore_errors=True)
    os.makedirs(source)
    start = time.time()
    run(['tar', 'xzf', tarball, '--strip-components=1', '-C', source], check=True)
    # GIT_SHA/GIT_DATE empty: the source folder sits inside our own checkout,
    # whose commit must not end up in the runner's version line.
    build = run(['make', '-j%d' % os.cpu_count(), 'GIT_SHA=', 'GIT_DATE='], cwd=source)
    if build.returncode != 0 or not os.path.isfile(os.path.join(source, 'fastchess')):
        sys.stdout.write(build.stdout.decode(errors='replace')[-3000:])
        raise RuntimeError('the match runner did not build')
    os.makedirs(os.path.dirname(binary), exist_ok=True)
    shutil.move(os.path.join(source, 'fastchess'), binary + '.tmp')
    os.replace(binary + '.tmp', binary)
    shutil.rmtree(source, ignore_errors=True)
    note('match runner built in %.0f s: %s' % (time.time() - start, binary))
    return binary


def source_zip(repo, out):
    """Zips what would be tested: HEAD on a clean checkout, the working tree
    (tracked and untracked, not ignored) when it has changes. Returns a label."""
    git = lambda *a, **k: run(['git', '-C', repo] + list(a), **k)
    if git('rev-parse', '--git-dir').returncode == 0:
        dirty = git('status', '--porcelain').stdout.strip()
        if not dirty:
            tree = git('rev-parse', 'HEAD').stdout.decode().strip()
            label = 'HEAD ' + tree[:12]
        else:
            # A scratch index: the working tree with untracked files, the
            # developer's own index left alone.
            index = out + '.index'
            env = dict(os.environ, GIT_INDEX_FILE=index)
            own = git('rev-parse', '--git-path', 'index').stdout.decode().strip()
            shutil.copy(own if os.path.isabs(own) else os.path.join(repo, own), index)
            git('add', '-A', env=env, check=True)
            tree = git('write-tree', env=env, check=True).stdout.decode().strip()
            os.remove(index)
            label = 'working tree ' + tree[:12] + ' (uncommitted changes)'
        git('archive', '--format=zip', '--prefix=velmora/', '-o', out, tree, check=True)
        return tree, label
    # No git at all (an unpacked archive): zip the folder, builds left out.
    digest = hashlib.sha1()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
        for root, dirs, files in os.walk(repo):
            dirs[:] = sorted(d for d in dirs if not d.startswith('build') and d != '.git')
            for name in sorted(files):
                path = os.path.join(root, name)
                rel = os.path.relpath(path, repo)
                z.write(path, 'velmora/' + rel)
                with open(path, 'rb') as f:
                    digest.update(rel.encode() + f.read())
    return digest.hexdigest(), 'folder without git'


SETTINGS = '''
from OpenSite.settings import *
# The pinned django-htmlmin is not in Debian; its middleware only minifies pages.
MIDDLEWARE = [m for m in MIDDLEWARE if not m.startswith('htmlmin.')]
# Remember every workload handed out (the DATAGEN seeds are drawn there).
MIDDLEWARE.append('velmora_e2e_workloads.WorkloadLog')
'''

MIDDLEWARE = '''
import os

class WorkloadLog:
    def __init__(self, get_response):
        self.get_response = get_response

    def __call__(self, request):
        response = self.get_response(request)
        if request.path.rstrip('/').endswith('clientGetWorkload'):
            with open(os.environ['VELMORA_E2E_WORKLOADS'], 'ab') as log:
                log.write(response.content.replace(b'\\n', b' ') + b'\\n')
        return response
'''


def create_rows(setup):
    """Runs inside the server folder with Django set up: user, profile,
    engines and the two tests, straight through the ORM."""
    import django
    django.setup()
    from django.contrib.auth.models import User
    from OpenBench.models import Engine, Profile, Test

    user = User.objects.create_user(username=USER, password=PASSWORD)
    Profile.objects.create(user=user, enabled=True, approver=True)
    dev = Engine.objects.create(name='dev', source=setup['source'], sha=setup['dev_sha'], bench=setup['bench'])
    base = Engine.objects.create(name='base', source=setup['source'], sha=setup['base_sha'], bench=setup['bench'])

    common = dict(author=USER, approved=True, dev=dev, base=base,
                  dev_repo=setup['source'], base_repo=setup['source'],
                  dev_engine=ENGINE, base_engine=ENGINE,
                  scale_method='BASE', scale_nps=setup['nps'], throughput=1000)
    # DATAGEN first (higher priority): once the client moves on to the SPRT,
    # no machine is on the DATAGEN test and its archive can be downloaded.
    datagen = Test.objects.create(
        test_mode='DATAGEN', priority=2, book_name='None', upload_pgns='VERBOSE',
        dev_options='Threads=1 Hash=16', base_options='Threads=1 Hash=16',
        dev_time_control='N=%d' % DATAGEN_NODES, base_time_control='N=%d' % DATAGEN_NODES,
        workload_size=DATAGEN_GAMES // 2, max_games=DATAGEN_GAMES, genfens_args='',
        play_reverses=False, win_adj='None', draw_adj='None', **common)
    # Two builds of one source are equally strong, so the LLR drifts to H0;
    # bounds far above zero and error rates of 0.2 (LLR bounds +-1.39) end
    # it within a few dozen games (22 in our runs).
    alpha = beta = 0.2
    sprt = Test.objects.create(
        test_mode='SPRT', priority=1, book_name=BOOK, upload_pgns='FALSE',
        dev_options='Threads=1 Hash=8', base_options='Threads=1 Hash=8',
        dev_time_control='N=%d' % SPRT_NODES, base_time_control='N=%d' % SPRT_NODES,
        workload_size=8, elolower=60.0, eloupper=140.0, alpha=alpha, beta=beta,
        lowerllr=math.log(beta / (1 - alpha)), upperllr=math.log((1 - beta) / alpha), **common)
    print(json.dumps({'datagen': datagen.id, 'sprt': sprt.id}))


def prepare_server(server, setup, env):
    """OpenBench's config for Velmora alone, the book, the settings override,
    the database and its rows."""
    config_path = os.path.join(server, 'Config', 'config.json')
    with open(config_path) as f:
        config = json.load(f)
    config['books'] = [BOOK]
    config['engines'] = [ENGINE]
    write(config_path, json.dumps(config, indent=4))
    shutil.copy(setup['engine_json'], os.path.join(server, 'Engines', ENGINE + '.json'))
    write(os.path.join(server, 'Books', BOOK + '.json'), json.dumps({'sha': setup['book_sha'], 'source': setup['book_url']}))
    write(os.path.join(server, 'velmora_e2e_settings.py'), SETTINGS)
    write(os.path.join(server, 'velmora_e2e_workloads.py'), MIDDLEWARE)

    migrate = run([sys.executable, 'manage.py', 'migrate', '--noinput'], cwd=server, env=env)
    if migrate.returncode != 0:
        sys.stdout.write(migrate.stdout.decode(errors='replace')[-3000:])
        raise RuntimeError('manage.py migrate failed')
    rows = run([sys.executable, os.path.abspath(__file__), '--create-rows', json.dumps(setup)], cwd=server, env=env)
    text = rows.stdout.decode(errors='replace')
    found = re.findall(r'^\{.*\}$', text, re.M)
    if rows.returncode != 0 or not found:
        sys.stdout.write(text[-3000:])
        raise RuntimeError('creating the database rows failed')
    return json.loads(found[-1])


PKILL = '''#!/bin/sh
# Stands in for pkill on the OpenBench client's PATH. The client and its
# helpers kill by a pattern over every command line on the machine; here the
# pattern only reaches processes of the caller's own session (-s 0), which is
# the client's: its engines and match runners, never anybody else's.
echo "pkill $*" >> "$(dirname "$0")/pkill.log"
exec /usr/bin/pkill -s 0 "$@"
'''


# ---------------------------------------------------------------------------
# Reading what came back

def read_archive(data):
    """(headers, [(san, comment)], result) for every game of a .pgn.tar."""
    games = []
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        for member in sorted(tar.getmembers(), key=lambda m: m.name):
            text = bz2.decompress(tar.extractfile(member).read()).decode()
            for block in re.split(r'\n\s*\n(?=\[)', text.strip()):
                headers = dict(re.findall(r'^\[(\w+) "([^"]*)"\]', block, re.M))
                body = '\n'.join(l for l in block.splitlines() if not l.startswith('['))
                moves = re.findall(r'([A-Za-z][A-Za-z0-9+#=-]*) \{([^}]*)\}', body)
                if headers:
                    games.append((headers, moves))
    return games


SCORE = re.compile(r'^([+-]?)(M?)(\d+(?:\.\d+)?)/(\d+)\b')


def scored(comment):
    """Whether a move comment holds a real search result: a score, a depth
    of 1 or more and a node count. (Seldepth is not asked for: mate lines
    may leave it out, and the match runner then writes sd=0.)"""
    m = SCORE.match(comment.strip())
    nodes = re.search(r'\bn=(\d+)', comment)
    return bool(m and int(m.group(4)) >= 1 and nodes and int(nodes.group(1)) > 0)


def fen_board(fen):
    """The pieces of a FEN by (rank, file), rank 0 being White's first."""
    board = {}
    for r, row in enumerate(fen.split()[0].split('/')):
        f = 0
        for c in row:
            if c.isdigit():
                f += int(c)
            else:
                board[(7 - r, f)] = c
                f += 1
    return board


def in_check(fen):
    """Whether the side to move is attacked on its king square (FEN only)."""
    board = fen_board(fen)
    white = fen.split()[1] == 'w'
    kr, kf = next(sq for sq, p in board.items() if p == ('K' if white else 'k'))

    def enemy(r, f, kinds):
        p = board.get((r, f))
        return p is not None and p.islower() == white and p.lower() in kinds
    d = 1 if white else -1  # enemy pawns attack towards us from this side
    if any(enemy(kr + d, kf + df, 'p') for df in (-1, 1)) or \
            any(enemy(kr + dr, kf + df, 'n') for dr in (-2, -1, 1, 2) for df in (3 - abs(dr), abs(dr) - 3)):
        return True
    for dr, df in ((dr, df) for dr in (-1, 0, 1) for df in (-1, 0, 1) if dr or df):
        r, f = kr + dr, kf + df
        if enemy(r, f, 'k'):
            return True
        while 0 <= r < 8 and 0 <= f < 8 and (r, f) not in board:
            r, f = r + dr, f + df
        if enemy(r, f, 'rq' if dr == 0 or df == 0 else 'bq'):
            return True
    return False


def position_counts(games, mate_bound):
    """Each move's position counted under the first of our filters that
    applies (book move, no score, mate score, in check, capture or
    promotion), from the PGN alone; the balance filter needs the engine.
    A score of mate_bound centipawns or more (table wins) counts as mate."""
    counts = dict(positions=0, book=0, noscore=0, mate=0, check=0, capture=0)
    for headers, moves in games:
        checked = in_check(headers['FEN']) if 'FEN' in headers else False
        for san, comment in moves:
            counts['positions'] += 1
            info = SCORE.match(comment.strip())
            if comment.strip() == 'book':
                counts['book'] += 1
            elif not info or int(info.group(4)) < 1:
                counts['noscore'] += 1
            elif info.group(2) or float(info.group(3)) * 100 >= mate_bound - 0.5:
                counts['mate'] += 1
            elif checked:
                counts['check'] += 1
            elif 'x' in san or '=' in san:
                counts['capture'] += 1
            checked = san.endswith('+') or san.endswith('#')
    return counts


def comparable(fen):
    """A FEN with its en-passant square kept only where a pawn of the side
    to move stands beside the pawn that double-stepped, as the match runner
    writes its FEN tags."""
    fields = fen.split()
    if len(fields) < 4 or fields[3] == '-':
        return ' '.join(fields)
    board = fen_board(fen)
    file = ord(fields[3][0]) - ord('a')
    white = fields[1] == 'w'
    rank, pawn = (4, 'P') if white else (3, 'p')
    if not any(board.get((rank, file + d)) == pawn for d in (-1, 1)):
        fields[3] = '-'
    return ' '.join(fields)


def genfens(binary, count, seed, book, extra):
    command = ['./' + os.path.basename(binary), 'genfens %d seed %d book %s %s' % (count, seed, book, extra), 'quit']
    out = run(command, cwd=os.path.dirname(binary), timeout=60).stdout.decode(errors='replace')
    return [l.split('genfens ', 1)[1].strip() for l in out.splitlines() if l.startswith('info string genfens ')]


# ---------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--shared')
    parser.add_argument('--work')
    parser.add_argument('--tools', help='build folder with velmora and velmora_data')
    parser.add_argument("--timeout", type=float, default=900, help="seconds for the run after the match runner is built (a safety net; the run takes far less)")
    parser.add_argument('--create-rows')
    args = parser.parse_args()
    if args.create_rows:
        return create_rows(json.loads(args.create_rows))
    if not (args.shared and args.work and args.tools):
        parser.error('--shared, --work and --tools are required')

    repo = os.path.abspath(os.path.join(os.path.dirname(__file__), '..'))
    work = os.path.abspath(args.work)
    tools = os.path.abspath(args.tools)
    os.makedirs(work, exist_ok=True)
    runner = match_runner(args.shared, work)

    started = time.time()
    deadline = started + args.timeout
    state = os.path.join(work, 'run')
    shutil.rmtree(state, ignore_errors=True)
    server, www, client, bin_dir, tmp = (os.path.join(state, d) for d in ('server', 'www', 'client', 'bin', 'tmp'))
    for d in (server, www, bin_dir, tmp):
        os.makedirs(d)
    openbench = sorted(f for f in os.listdir(args.shared) if f.startswith('OpenBench-') and f.endswith('.tar.gz'))[-1]
    run(['tar', 'xzf', os.path.join(args.shared, openbench), '--strip-components=1', '-C', server], check=True)

    # The bench OpenBench must see, read by OpenBench's own parser.
    sys.path.insert(0, os.path.join(server, 'Client'))
    import bench as ob_bench
    bench_out = run([os.path.join(tools, 'velmora'), 'bench'], cwd=tools, timeout=120).stdout
    nodes, nps = ob_bench.parse_stream_output(bench_out)
    if not check('bench parsed by OpenBench', bool(nodes and nps), 'nodes %s, nps %s' % (nodes, nps)):
        return

    tree, label = source_zip(repo, os.path.join(www, 'velmora.zip'))
    note('testing ' + label)
    book = ('\n'.join(BOOK_LINES) + '\n').encode()
    with zipfile.ZipFile(os.path.join(www, BOOK + '.zip'), 'w') as z:
        z.writestr(BOOK, book)

    http_port, server_port = free_port(), free_port()
    while server_port == http_port:
        server_port = free_port()
    site = 'http://127.0.0.1:%d' % server_port
    workload_log = os.path.join(state, 'workloads.jsonl')
    # TMPDIR: the client builds engines in temporary folders, which stay
    # under the build folder like everything else.
    env = dict(os.environ, DJANGO_SETTINGS_MODULE='velmora_e2e_settings', VELMORA_E2E_WORKLOADS=workload_log,
               PYTHONPATH=server, PYTHONDONTWRITEBYTECODE='1', TMPDIR=tmp)
    engine_json = os.path.join(repo, 'tools', 'openbench', ENGINE + '.json')
    with open(engine_json) as f:
        engine_nps = json.load(f)['nps']
    setup = {
        'source': 'http://127.0.0.1:%d/velmora.zip' % http_port,
        # Two engine rows, two builds of the same source (the client names
        # binaries by the first 8 characters of the sha).
        'dev_sha': tree, 'base_sha': hashlib.sha1(b'base' + tree.encode()).hexdigest(),
        'bench': nodes, 'nps': engine_nps,
        'engine_json': engine_json,
        'book_sha': hashlib.sha256(book).hexdigest(),
        'book_url': 'http://127.0.0.1:%d/%s.zip' % (http_port, BOOK),
    }
    ids = prepare_server(server, setup, env)
    note('server prepared in %.0f s (tests: DATAGEN #%d, SPRT #%d)' % (time.time() - started, ids['datagen'], ids['sprt']))

    procs = Processes()

    def on_signal(signum, frame):
        raise SystemExit('stopped by signal %d' % signum)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    try:
        procs.start([sys.executable, '-m', 'http.server', str(http_port), '--bind', '127.0.0.1', '-d', www],
                    os.path.join(state, 'http.log'))
        procs.start([sys.executable, 'manage.py', 'runserver', '127.0.0.1:%d' % server_port, '--noreload'],
                    os.path.join(state, 'server.log'), cwd=server, env=env)
        up = wait_http('http://127.0.0.1:%d/velmora.zip' % http_port, deadline) and \
            wait_http(site + '/clientVersionRef/', deadline, data=LOGIN)
        if not check('server and file server up', up):
            return

        shutil.copytree(os.path.join(server, 'Client'), client)
        shutil.copy(runner, os.path.join(client, 'fastchess-ob'))
        write(os.path.join(bin_dir, 'pkill'), PKILL)
        os.chmod(os.path.join(bin_dir, 'pkill'), 0o755)
        client_env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ['PATH'], PYTHONDONTWRITEBYTECODE='1',
                          TMPDIR=tmp)
        client_log = os.path.join(state, 'client.log')
        client_proc = procs.start([sys.executable, '-u', 'client.py', '-U', USER, '-P', PASSWORD, '-S', site,
                                   '-T', '1', '-N', '1', '--fleet', '--no-client-downloads'],
                                  client_log, cwd=client, env=client_env)

        db_path = os.path.join(server, 'db.sqlite3')

        def query(sql, *args):
            # A fresh read-only connection, every row fetched: a statement
            # left open would hold a lock the server's writes wait for.
            db = sqlite3.connect('file:%s?mode=ro' % db_path, uri=True, timeout=10)
            try:
                return db.execute(sql, args).fetchall()
            finally:
                db.close()
        status = lambda tid: query('SELECT finished, passed, failed, error, games, currentllr, wins, losses, draws '
                                   'FROM OpenBench_test WHERE id=?', tid)[0]
        archive = None
        last_note = 0
        while time.time() < deadline:
            time.sleep(1)
            if client_proc.poll() is not None:
                break
            datagen, sprt = status(ids['datagen']), status(ids['sprt'])
            if time.time() - last_note > 20:
                last_note = time.time()
                note('%3.0f s: DATAGEN %d games, finished %s; SPRT %d games, LLR %.2f, finished %s' % (
                    time.time() - started, datagen[4], bool(datagen[0]), sprt[4], sprt[5], bool(sprt[0])))
            if datagen[0] and archive is None:
                try:
                    reply = urllib.request.urlopen('%s/api/pgns/%d/' % (site, ids['datagen']), data=LOGIN, timeout=30)
                    body = reply.read()
                    if not body.lstrip().startswith(b'{'):
                        archive = body
                        write(os.path.join(state, '%d.pgn.tar' % ids['datagen']), body)
                except Exception:
                    pass
            if archive is not None and sprt[0]:
                break
            # A build failure, a bad bench or a game that ended in error is
            # logged as an event; the client would only retry it.
            if query('SELECT COUNT(*) FROM OpenBench_logevent')[0][0]:
                note('the server logged an error; stopping')
                break
        finished_in = time.time() - started
        # All the work is in: let the client leave on its own, then end it.
        write(os.path.join(client, 'openbench.exit'), '')
        try:
            client_proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        procs.stop(client_proc)
        note('tests done after %.0f s' % finished_in)

        with open(client_log, errors='replace') as f:
            log = f.read()
        events = query('SELECT test_id, summary FROM OpenBench_logevent')
        datagen, sprt = status(ids['datagen']), status(ids['sprt'])
        crashes = query('SELECT COALESCE(SUM(crashes), 0), COALESCE(SUM(timeloss), 0) FROM OpenBench_result')[0]
        for test_id, summary in events:
            note('server event for test %d: %s' % (test_id, summary))

        # Both builds and their bench check.
        engines = sorted(f for f in os.listdir(os.path.join(client, 'Engines')) if f.startswith(ENGINE + '-'))
        benches = re.findall(r'^Bench for (\w+) is (\d+)$', log, re.M)
        bad_bench = re.findall(r'Wrong Bench|Non-Deterministic|Failed to Execute Benchmark|Bench Exceeded', log + repr(events))
        check('two builds with make', len(engines) == 2 and 'Failed to build' not in log, ', '.join(engines))
        check('bench check of both builds', {n for n, b in benches} == {'dev', 'base'} and not bad_bench
              and all(int(b) == nodes for n, b in benches), '%d benches of %d nodes%s' % (
                  len(benches), nodes, (', ' + ', '.join(sorted(set(bad_bench)))) if bad_bench else ''))

        # The SPRT.
        sprt_events = [s for t, s in events if t == ids['sprt']]
        check('SPRT finished', bool(sprt[0] and (sprt[1] or sprt[2]) and sprt[4] > 0 and not sprt[3] and not sprt_events),
              '%d games (+%d -%d =%d), LLR %.2f, %s%s' % (sprt[4], sprt[6], sprt[7], sprt[8], sprt[5],
                                                        'H1 accepted' if sprt[1] else 'H0 accepted' if sprt[2] else 'unfinished',
                                                        ', errors: ' + '; '.join(sprt_events) if sprt_events else ''))
        check('no crashes or time losses', crashes == (0, 0), 'crashes %d, time losses %d' % crashes)

        # The DATAGEN test and its archive.
        dg_events = [s for t, s in events if t == ids['datagen']]
        check('DATAGEN finished', bool(datagen[0] and datagen[4] >= DATAGEN_GAMES and not datagen[3] and not dg_events),
              '%d games%s' % (datagen[4], ', errors: ' + '; '.join(dg_events) if dg_events else ''))
        if not check('DATAGEN archive downloaded', archive is not None):
            return
        games = read_archive(archive)
        moves = [(san, c) for h, ms in games for san, c in ms if c.strip() != 'book']
        unscored = [(san, c) for san, c in moves if not scored(c)]
        check('DATAGEN archive holds the games', len(games) >= DATAGEN_GAMES, '%d games, %d moves' % (len(games), len(moves)))
        check('every DATAGEN move has a score and depth', bool(moves) and not unscored,
              '%d of %d moves without%s' % (len(unscored), len(moves),
                                            (', first: ' + repr(unscored[0])) if unscored else ''))

        # The openings are our genfens output for the seed the server drew.
        handed = [json.loads(l)['workload'] for l in open(workload_log) if '"workload"' in l]
        handed = [w for w in handed if w['test']['id'] == ids['datagen']]
        printed = set()
        for w in handed:
            dist = w['distribution']
            count = dist['runner-count'] * dist['rounds-per-runner'] // (1 + w['test']['play_reverses'])
            dev_binary = os.path.join(client, 'Engines', '%s-%s' % (ENGINE, w['test']['dev']['sha'].upper()[:8]))
            for seed in w['test']['genfens_seeds']:
                printed.update(genfens(dev_binary, count, seed, 'None', w['test']['genfens_args']))
        fens = [h.get('FEN', '') for h, ms in games]
        printed = {comparable(f) for f in printed}
        strangers = [f for f in fens if comparable(f) not in printed]
        check('DATAGEN openings are our genfens positions', bool(handed and fens) and not strangers,
              '%d games, %d genfens positions, seeds %s%s' % (
                  len(fens), len(printed), [s for w in handed for s in w['test']['genfens_seeds']],
                  (', not printed: ' + strangers[0]) if strangers else ''))

        # Import into training records, counted independently from the PGN.
        tar_path = os.path.join(state, '%d.pgn.tar' % ids['datagen'])
        records = os.path.join(state, 'records.bin')
        imported = run([os.path.join(tools, 'velmora_data'), 'pgn', records, tar_path], timeout=120)
        out = imported.stdout.decode(errors='replace')
        sys.stdout.write(''.join('  ' + l + '\n' for l in out.strip().splitlines()[-6:]))
        written = os.path.getsize(records) // 32 if os.path.isfile(records) else -1
        numbers = re.search(r'positions (\d+): kept (\d+), filtered (\d+) \(book (\d+), no score (\d+), mate score (\d+), '
                            r'in check (\d+), capture or promotion (\d+), lopsided (\d+)\)', out)
        with open(os.path.join(repo, 'search', 'search.h')) as f:
            mate_bound = int(re.search(r'MATE_IN_MAX\s*=\s*(\d+)', f.read()).group(1))
        mine = position_counts(games, mate_bound)
        if numbers:
            theirs = dict(zip(('positions', 'kept', 'filtered', 'book', 'noscore', 'mate', 'check', 'capture', 'lopsided'),
                              map(int, numbers.groups())))
            expected = mine['positions'] - sum(mine[k] for k in ('book', 'noscore', 'mate', 'check', 'capture')) \
                - theirs['lopsided']
            agree = all(mine[k] == theirs[k] for k in mine)
        else:
            theirs, expected, agree = {}, None, False
        # Expected: the positions less those filtered by the PGN alone, less those the engine found lopsided.
        check('velmora_data imports the archive',
              imported.returncode == 0 and agree and written == expected == theirs.get('kept'),
              '%d records written, %s expected; counted from the PGN %s, by velmora_data %s' % (
                  written, expected, json.dumps(mine), json.dumps(theirs)))
    finally:
        procs.stop_all()
        note('wall time %.0f s after the match runner' % (time.time() - started))


if __name__ == '__main__':
    if '--create-rows' in sys.argv:
        sys.exit(main())
    try:
        main()
    except Exception as error:
        import traceback
        traceback.print_exc()
        check('run', False, str(error))
    except (SystemExit, KeyboardInterrupt) as error:
        check('run', False, 'interrupted (%s)' % (error or 'SIGINT'))
    print('openbench: %d passed, %d failed' % (results['pass'], results['fail']), flush=True)
    sys.exit(1 if results['fail'] else 0)
