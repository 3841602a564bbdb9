"""`quorvane review`: the results page served from 127.0.0.1, where each
pair's "Accept" writes its baseline at once through approve's code and
"Undo" puts the previous bytes back. The standard library's threading HTTP
server is enough for one local user. Every request carries the random
token of the page's URL and a Host naming this server (a page elsewhere
cannot reach it through DNS rebinding); a write comes from this server's
own page and names a pair of the manifest, never a path."""

from __future__ import annotations

import argparse
import http
import http.server
import json
import pathlib
import secrets
import shutil
import sys
import threading
import urllib.parse
import webbrowser

from quorvane_cli import approve, manifest, page
from quorvane_cli.approve import Folder, Outcome
from quorvane_cli.errors import CliError
from quorvane_cli.safe_files import OutputFolder, shown

# The bytes Undo puts back, inside the results folder while the server runs.
UNDO_FOLDER = OutputFolder.WORK_FOLDERS[0].rstrip("/")
LARGEST_REQUEST = 64 * 1024
TYPES = {".png": "image/png", ".webp": "image/webp"}


class Reviews:
    """The pairs' state while the server runs: what Undo restores, by pair."""

    def __init__(self, folder: Folder) -> None:
        self.folder = folder
        self.pairs = manifest.by_name(folder.manifest)
        self.undo_folder = folder.results / UNDO_FOLDER
        self.kept: dict[str, pathlib.Path | None] = {}  # None: there was no baseline
        # One write at a time: two tabs accepting one pair write it once.
        self.lock = threading.Lock()

    def accept(self, name: str) -> tuple[bool, str]:
        """(accepted, the line saying what happened)."""
        with self.lock:
            result = approve.accept(self.folder, self.pairs[name], delete_missing=True)
            if result.outcome in (Outcome.WRITTEN, Outcome.DELETED):
                self.keep(name, result.previous)
            return result.outcome is not Outcome.REFUSED, result.line

    def keep(self, name: str, previous: bytes | None) -> None:
        if previous is None:
            self.kept[name] = None
            return
        self.undo_folder.mkdir(exist_ok=True)
        kept = self.undo_folder / f"{list(self.pairs).index(name)}.previous"  # never taken for a screenshot
        approve.write_baseline(kept, previous, self.folder.results)
        self.kept[name] = kept

    def undo(self, name: str) -> tuple[bool, str]:
        """Puts back the baseline that Accept replaced, while it still holds
        the accepted image (or, for a deleted one, is still absent)."""
        with self.lock:
            if name not in self.kept:
                return False, "nothing to undo: not accepted here"
            pair = self.pairs[name]
            path = self.folder.baseline(pair)
            now = approve.read_regular(path)
            if (None if now is None else manifest.sha256(now)) != pair["accepted_sha256"]:
                return True, f"not undone: {shown(path)} changed since it was accepted"
            kept = self.kept.pop(name)
            approve.restore(path, None if kept is None else kept.read_bytes(), self.folder.root)
            if kept is not None:
                kept.unlink()
            return False, f"restored {shown(path)}"

    def images(self) -> set[str]:
        listed = (pair["images"][key] for pair in self.pairs.values() for key in manifest.IMAGE_KEYS)  # type: ignore[literal-required]
        return {path for path in listed if path is not None}

    def close(self) -> None:
        shutil.rmtree(self.undo_folder, ignore_errors=True)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, reviews: Reviews, port: int) -> None:
        super().__init__(("127.0.0.1", port), Handler)
        self.reviews = reviews
        self.token = secrets.token_urlsafe(24)
        self.port = self.server_address[1]
        self.hosts = {f"127.0.0.1:{self.port}", f"localhost:{self.port}"}
        self.origins = {f"http://{host}" for host in self.hosts}
        self.page = page.render(reviews.folder.manifest, token=self.token).encode()
        self.images = reviews.images()

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self.port}/?token={self.token}"


class Handler(http.server.BaseHTTPRequestHandler):
    server: Server
    protocol_version = "HTTP/1.1"

    def log_message(self, format: str, *args: object) -> None:
        pass  # the token is in every request line

    def answer(self, status: int, body: bytes, kind: str = "application/json") -> None:
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("Referrer-Policy", "no-referrer")
        self.end_headers()
        self.wfile.write(body)

    def say(self, status: int, message: str, accepted: bool | None = None) -> None:
        self.answer(status, json.dumps({"accepted": accepted, "message": message}).encode())

    def allowed(self, query: dict[str, list[str]]) -> bool:
        """The token, and a Host naming this server: else 403 and nothing done."""
        token = query.get("token", [""])[0]
        if self.headers.get("Host") in self.server.hosts and secrets.compare_digest(token, self.server.token):
            return True
        self.say(http.HTTPStatus.FORBIDDEN, "forbidden")
        return False

    def do_GET(self) -> None:
        url = urllib.parse.urlsplit(self.path)
        if not self.allowed(urllib.parse.parse_qs(url.query)):
            return
        path = urllib.parse.unquote(url.path)
        if path in ("/", "/index.html"):
            self.answer(http.HTTPStatus.OK, self.server.page, "text/html; charset=utf-8")
            return
        relative = path.removeprefix("/")
        data = None
        if relative in self.server.images:  # only the page's images, never another path
            try:
                data = approve.read_regular(self.server.reviews.folder.results / relative)
            except OSError:
                data = None
        if data is None:
            self.say(http.HTTPStatus.NOT_FOUND, "not found")
            return
        self.answer(http.HTTPStatus.OK, data, TYPES.get(pathlib.PurePath(relative).suffix, "application/octet-stream"))

    def do_POST(self) -> None:
        url = urllib.parse.urlsplit(self.path)
        if not self.allowed(urllib.parse.parse_qs(url.query)):
            return
        origin = self.headers.get("Origin")
        if origin is not None and origin not in self.server.origins:
            self.say(http.HTTPStatus.FORBIDDEN, "forbidden: another site")
            return
        action = {"/accept": self.server.reviews.accept, "/undo": self.server.reviews.undo}.get(url.path)
        if action is None:
            self.say(http.HTTPStatus.NOT_FOUND, "not found")
            return
        length = int(self.headers.get("Content-Length") or 0)
        if self.headers.get_content_type() != "application/json" or not 0 < length <= LARGEST_REQUEST:
            self.say(http.HTTPStatus.BAD_REQUEST, 'expected {"pair": name} as JSON')
            return
        try:
            name = json.loads(self.rfile.read(length))["pair"]
        except (ValueError, TypeError, KeyError):
            name = None
        if not isinstance(name, str) or name not in self.server.reviews.pairs:
            self.say(http.HTTPStatus.NOT_FOUND, "no such pair")
            return
        accepted, line = action(name)
        self.say(http.HTTPStatus.OK, line, accepted)


def run(results: pathlib.Path, port: int = 0, *, browser: bool = True, root: pathlib.Path | None = None) -> int:
    """Serves the page of a results folder until interrupted; returns the
    exit status: 130 after Ctrl-C."""
    reviews = Reviews(Folder.open(results, root))
    try:
        server = Server(reviews, port)
    except OSError as error:
        raise CliError(f"127.0.0.1:{port}", error.strerror or str(error)) from None
    print(f"review: {server.url}", flush=True)
    print("Accept writes a baseline at once; Undo puts it back. Ctrl-C stops the server.", flush=True)
    if browser:
        webbrowser.open(server.url)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        print("quorvane: review stopped", file=sys.stderr, flush=True)
        return 130
    finally:
        server.server_close()
        reviews.close()
    return 0


def port_number(text: str) -> int:
    if not text.isdigit() or int(text) > 65535:
        raise argparse.ArgumentTypeError(f"must be a port number, 0 to 65535, not {text}")
    return int(text)


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "review",
        help="serve the results page where Accept writes baselines",
        description="Serve the page of a results folder (a report directory or the pytest plugin's output "
        "folder) from 127.0.0.1 and open it in the default browser: each pair's Accept writes its baseline at "
        "once, as quorvane approve does, and Undo puts the previous bytes back.",
        epilog="Exit status: 130 when stopped with Ctrl-C, 2 for bad usage or a folder without a manifest.",
    )
    approve.add_folder_arguments(parser)
    parser.add_argument("--port", type=port_number, default=0, metavar="N", help="the port (default: any free one)")
    parser.add_argument("--no-browser", action="store_true", help="print the page's URL only")
    parser.set_defaults(run=lambda args: run(args.results, args.port, browser=not args.no_browser, root=args.root))
