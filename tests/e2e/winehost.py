"""Runs cross-built Windows programs in throw-away Wine prefixes and inspects what they did.

A Prefix is a cheap copy of a pristine prefix (see scripts/wine-prefix) with its own
wineserver. Programs run through the harness's winrun.exe, so a test sees the real signed
32-bit exit code, not the 8 bits a Unix status keeps.

Environment:
  CORVANE_WIN_BUILD   cross build tree holding the Windows programs (default: build/win32)
  CORVANE_WIN64_BUILD 64-bit cross build tree (default: build/win64); its harness tools run
                      the programs in 64-bit prefixes
  CORVANE_WINE_ROOT   pristine prefixes and per-test copies (default: build/wine)
  CORVANE_KEEP_PREFIX set to 1 to keep the prefix of a failed test for a look afterwards
"""

from __future__ import annotations

import dataclasses
import hashlib
import os
import re
import shutil
import signal
import stat
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Iterable, Mapping, Sequence

REPOSITORY = Path(__file__).resolve().parents[2]
WIN_BUILD = Path(os.environ.get("CORVANE_WIN_BUILD", REPOSITORY / "build" / "win32")).resolve()
WIN64_BUILD = Path(os.environ.get("CORVANE_WIN64_BUILD",
                                  REPOSITORY / "build" / "win64")).resolve()
# Debian's `wine` always starts Wine's 32-bit loader first, which then hands a 64-bit program
# over to wine64: a 32-bit start for nothing, and an expensive one where 32-bit code runs
# emulated.
WINE64_LOADER = "/usr/lib/wine/wine64"
WINE_ROOT = Path(os.environ.get("CORVANE_WINE_ROOT", REPOSITORY / "build" / "wine")).resolve()
WINE_PREFIX_TOOL = REPOSITORY / "scripts" / "wine-prefix"

BASE_DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"

# Windows versions Wine can pretend to be, with what RtlGetVersion must then report:
# (major, minor, product type); product type 1 is a workstation, 3 a server.
WINDOWS_VERSIONS = {
    "nt40": (4, 0, 1),
    "win2k": (5, 0, 1),
    "winxp": (5, 1, 1),
    "winxp64": (5, 2, 1),
    "win2003": (5, 2, 3),
    "vista": (6, 0, 1),
    "win2008": (6, 0, 3),
    "win7": (6, 1, 1),
    "win2008r2": (6, 1, 3),
    "win8": (6, 2, 1),
    "win81": (6, 3, 1),
    "win10": (10, 0, 1),
}

REG_TYPES = {
    0: "REG_NONE",
    1: "REG_SZ",
    2: "REG_EXPAND_SZ",
    3: "REG_BINARY",
    4: "REG_DWORD",
    5: "REG_DWORD_BIG_ENDIAN",
    6: "REG_LINK",
    7: "REG_MULTI_SZ",
    8: "REG_RESOURCE_LIST",
    11: "REG_QWORD",
}
REG_TYPE_NUMBERS = {name: number for number, name in REG_TYPES.items()}


class WineError(RuntimeError):
    """Wine or a harness program failed in a way no test should have to interpret."""


def win_build_path(relative: str | os.PathLike) -> Path:
    """A program of the cross build, e.g. win_build_path("tests/harness/exitwith.exe")."""
    path = WIN_BUILD / relative
    if not path.exists():
        raise FileNotFoundError(
            f"{path} is not built; run scripts/build.sh (or set CORVANE_WIN_BUILD)")
    return path


def harness_program(name: str) -> Path:
    return win_build_path(Path("tests") / "harness" / name)


# The harness's own tools (not the programs under test) that exist as 64-bit builds too.
HARNESS_TOOLS_64 = ("winrun.exe", "wintool.exe", "regtool.exe")


# --------------------------------------------------------------------------------------------
# Results


@dataclasses.dataclass
class RunResult:
    """What one program run left behind. exit_code is None only when it timed out."""

    exit_code: int | None
    stdout: str
    stderr: str
    timed_out: bool = False
    duration: float = 0.0
    stdout_bytes: bytes = b""
    command: str = ""

    @property
    def exit_code_unsigned(self) -> int | None:
        return None if self.exit_code is None else self.exit_code & 0xFFFFFFFF

    def __str__(self) -> str:
        state = "timed out" if self.timed_out else f"exit code {self.exit_code}"
        return (f"{self.command}: {state} after {self.duration:.1f} s\n"
                f"--- stdout ---\n{self.stdout}--- stderr ---\n{self.stderr}")


@dataclasses.dataclass(frozen=True)
class RegValue:
    """A registry value: type name ("REG_SZ"...), decoded data and the raw bytes.

    Decoding: REG_SZ/REG_EXPAND_SZ/REG_LINK -> str (up to the first NUL), REG_DWORD and
    REG_QWORD -> int, REG_MULTI_SZ -> list of str, anything else -> bytes.
    """

    type: str
    data: object
    raw: bytes

    @staticmethod
    def decode(type_number: int, raw: bytes) -> "RegValue":
        type_name = REG_TYPES.get(type_number, f"REG_TYPE_{type_number}")
        data: object = raw
        if type_name in ("REG_SZ", "REG_EXPAND_SZ", "REG_LINK"):
            data = raw.decode("utf-16-le", errors="replace").split("\0", 1)[0]
        elif type_name == "REG_DWORD" and len(raw) == 4:
            data = int.from_bytes(raw, "little")
        elif type_name == "REG_DWORD_BIG_ENDIAN" and len(raw) == 4:
            data = int.from_bytes(raw, "big")
        elif type_name == "REG_QWORD" and len(raw) == 8:
            data = int.from_bytes(raw, "little")
        elif type_name == "REG_MULTI_SZ":
            text = raw.decode("utf-16-le", errors="replace")
            data = [part for part in text.split("\0") if part] if text.strip("\0") else []
        return RegValue(type_name, data, raw)

    @staticmethod
    def encode(data: object, type_name: str) -> bytes:
        if isinstance(data, bytes):
            return data
        if type_name in ("REG_SZ", "REG_EXPAND_SZ", "REG_LINK"):
            return (str(data) + "\0").encode("utf-16-le")
        if type_name == "REG_DWORD":
            return int(data).to_bytes(4, "little")
        if type_name == "REG_QWORD":
            return int(data).to_bytes(8, "little")
        if type_name == "REG_MULTI_SZ":
            return ("".join(f"{item}\0" for item in data) + "\0").encode("utf-16-le")
        raise ValueError(f"give bytes for {type_name}")


# --------------------------------------------------------------------------------------------
# Snapshots


@dataclasses.dataclass(frozen=True)
class FileState:
    kind: str  # "file", "dir" or "link"
    size: int = 0
    digest: str = ""


@dataclasses.dataclass
class Snapshot:
    """Files under drive_c and the saved registry of a prefix at one moment.

    files:    {"C:\\path" (lower case): FileState}
    registry: {"HKLM\\key" (lower case): {value name (lower case): raw text}}; the raw text is
              Wine's own notation (e.g. 'dword:00000001', '"text"', 'hex:01,02') and compares
              exactly. Key paths: HKLM\\..., HKCU\\... (the Wine user), HKU\\.Default\\...
    names:    {lower-case key or path: spelling as found}, for messages

    Left out: key timestamps (Wine's "#time" lines), volatile keys (HKLM\\Hardware and others
    Wine never saves) and whatever IGNORED_FILES and IGNORED_KEYS below name.
    """

    files: dict[str, FileState]
    registry: dict[str, dict[str, str]]
    names: dict[str, str]

    def __repr__(self) -> str:
        return f"<Snapshot of {len(self.files)} paths and {len(self.registry)} keys>"

    def diff(self, before: "Snapshot", ignore: Iterable[str] = ()) -> "SnapshotDiff":
        """What changed from `before` to this snapshot. `ignore`: regular expressions searched
        in lower-case file paths ("c:\\users\\...") and keys ("hkcu\\software\\...")."""
        names = {**before.names, **self.names}
        patterns = [re.compile(pattern) for pattern in ignore]
        if patterns:
            return self._without(patterns).diff(before._without(patterns))
        result = SnapshotDiff()
        for path in sorted(self.files.keys() - before.files.keys()):
            result.files_added.append(names.get(path, path))
        for path in sorted(before.files.keys() - self.files.keys()):
            result.files_removed.append(names.get(path, path))
        for path in sorted(self.files.keys() & before.files.keys()):
            if self.files[path] != before.files[path]:
                result.files_changed.append(names.get(path, path))
        for key in sorted(self.registry.keys() - before.registry.keys()):
            result.keys_added.append(names.get(key, key))
        for key in sorted(before.registry.keys() - self.registry.keys()):
            result.keys_removed.append(names.get(key, key))
        for key in sorted(self.registry.keys() & before.registry.keys()):
            old, new = before.registry[key], self.registry[key]
            if old == new:
                continue
            for name in sorted(old.keys() | new.keys()):
                if old.get(name) != new.get(name):
                    result.values_changed.append(
                        (names.get(key, key), name, old.get(name), new.get(name)))
        return result


    def _without(self, patterns: list[re.Pattern]) -> "Snapshot":
        return Snapshot(
            files={k: v for k, v in self.files.items() if not _ignored(k, patterns)},
            registry={k: v for k, v in self.registry.items() if not _ignored(k, patterns)},
            names=self.names)


@dataclasses.dataclass
class SnapshotDiff:
    files_added: list[str] = dataclasses.field(default_factory=list)
    files_removed: list[str] = dataclasses.field(default_factory=list)
    files_changed: list[str] = dataclasses.field(default_factory=list)
    keys_added: list[str] = dataclasses.field(default_factory=list)
    keys_removed: list[str] = dataclasses.field(default_factory=list)
    # (key, value name, before or None, after or None), in Wine's .reg notation
    values_changed: list[tuple[str, str, str | None, str | None]] = dataclasses.field(
        default_factory=list)

    def __bool__(self) -> bool:
        return any(dataclasses.astuple(self))

    def __str__(self) -> str:
        if not self:
            return "no changes"
        lines = []
        for title, items in (("file added", self.files_added),
                             ("file removed", self.files_removed),
                             ("file changed", self.files_changed),
                             ("key added", self.keys_added), ("key removed", self.keys_removed)):
            lines += [f"{title}: {item}" for item in items]
        for key, name, old, new in self.values_changed:
            lines.append(f"value changed: {key} [{name or '@'}]: {old} -> {new}")
        return "\n".join(lines)

    __repr__ = __str__


# Paths and keys a snapshot leaves out (regular expressions on the lower-case Windows path or
# key). Checked: running console and GUI programs (with a display), message boxes, switching
# the Windows version and restarting the wineserver change nothing else in drive_c or the saved
# registry. Add a pattern here only with the reason Wine changes it; for one test's own noise
# use Snapshot.diff(before, ignore=...).
IGNORED_FILES: tuple[re.Pattern, ...] = ()
IGNORED_KEYS: tuple[re.Pattern, ...] = (
    # The display adapter: Wine's X11 driver writes the GPU's driver date each time the desktop
    # (explorer.exe) starts with a display.
    re.compile(r"^hklm\\system\\currentcontrolset\\control\\class\\"
               r"\{4d36e968-e325-11ce-bfc1-08002be10318\}\\"),
)

_KEY_LINE = re.compile(r"^\[(.*)\] \d+$")


def _unescape_name(text: str) -> str:
    return text.replace("\\\\", "\\")


def _parse_reg_file(path: Path, root: str, registry: dict, names: dict) -> None:
    """Reads one of Wine's saved hives (system.reg, user.reg, userdef.reg)."""
    key = None
    values: dict[str, str] = {}
    pending = ""
    with open(path, encoding="utf-8", errors="surrogateescape") as file:
        for line in file:
            line = line.rstrip("\n")
            if pending:
                line = pending + line.lstrip()
                pending = ""
            if line.endswith("\\") and not line.endswith('"'):
                pending = line[:-1]
                continue
            if line.startswith("["):
                match = _KEY_LINE.match(line)
                if match:
                    name = f"{root}\\{_unescape_name(match.group(1))}"
                    key = name.lower()
                    names[key] = name
                    values = registry.setdefault(key, {})
                continue
            if key is None or not line:
                continue
            if line.startswith("#"):
                if line == "#link" or line.startswith("#class="):
                    values[line] = ""
                continue
            if line.startswith("@="):
                values[""] = line[2:]
            elif line.startswith('"'):
                end = 1
                while end < len(line) and line[end] != '"':
                    end += 2 if line[end] == "\\" else 1
                name = line[1:end].replace('\\"', '"').replace("\\\\", "\\")
                values[name.lower()] = line[end + 2:]


def _ignored(text: str, patterns: Iterable[re.Pattern]) -> bool:
    return any(pattern.search(text) for pattern in patterns)


# --------------------------------------------------------------------------------------------
# Windows on screen


@dataclasses.dataclass(frozen=True)
class Control:
    hwnd: int
    id: int
    class_name: str
    text: str
    visible: bool
    enabled: bool


@dataclasses.dataclass(frozen=True)
class Window:
    """A top-level window with its controls, as tests/harness/wintool.c reads them."""

    hwnd: int
    pid: int
    class_name: str
    title: str
    visible: bool
    controls: tuple[Control, ...] = ()

    def control(self, text: str | None = None, *, id: int | None = None) -> Control:
        """The control with this id, or with this text ("&" accelerators ignored)."""
        for control in self.controls:
            if id is not None and control.id == id:
                return control
            if text is not None and control.text.replace("&", "") == text.replace("&", ""):
                return control
        raise LookupError(f"no control {text if id is None else id!r} in {self.title!r}: "
                          f"{[(c.id, c.text) for c in self.controls]}")

    @property
    def texts(self) -> list[str]:
        return [control.text for control in self.controls if control.text]


def _parse_windows(output: str) -> list[Window]:
    def text(field: str) -> str:
        return "" if field == "-" else bytes.fromhex(field).decode("utf-8", errors="replace")

    windows: list[Window] = []
    controls: dict[int, list[Control]] = {}
    for line in output.splitlines():
        parts = line.split(" ")
        if parts[0] == "W" and len(parts) == 6:
            windows.append(Window(int(parts[1]), int(parts[2]), text(parts[4]), text(parts[5]),
                                  parts[3] == "1"))
        elif parts[0] == "C" and len(parts) == 8:
            controls.setdefault(int(parts[1]), []).append(
                Control(int(parts[2]), int(parts[3]), text(parts[6]), text(parts[7]),
                        parts[4] == "1", parts[5] == "1"))
    return [dataclasses.replace(w, controls=tuple(controls.get(w.hwnd, ()))) for w in windows]


# --------------------------------------------------------------------------------------------
# Prefix


class RunningProgram:
    """A program started with Prefix.start(); wait() gives its RunResult."""

    def __init__(self, prefix: "Prefix", process: subprocess.Popen, exit_code_file: Path,
                 output_files: tuple[Path, Path], command: str, timeout: float):
        self.prefix = prefix
        self.process = process
        self.exit_code_file = exit_code_file
        self.output_files = output_files
        self.command = command
        self.timeout = timeout
        self.started = time.monotonic()

    def wait(self, timeout: float | None = None) -> RunResult:
        limit = self.timeout if timeout is None else timeout
        # winrun ends the program when its own --timeout runs out; the extra time here only
        # catches Wine itself hanging.
        try:
            self.process.wait(timeout=limit + 30)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            self.prefix.kill()
            return self._result(None, timed_out=True)
        text = self.exit_code_file.read_text().strip() if self.exit_code_file.exists() else ""
        self.exit_code_file.unlink(missing_ok=True)
        if text == "timeout":
            # Whatever the program started is still running; end it with the prefix's server.
            self.prefix.kill()
            return self._result(None, timed_out=True)
        result = self._result(int(text) if re.fullmatch(r"-?\d+", text) else None)
        if text.startswith("error:"):
            raise WineError(f"{self.command}: {text[6:].strip()}\n{result.stderr}")
        if result.exit_code is None:
            raise WineError(f"{self.command}: winrun reported no exit code (wine status "
                            f"{self.process.returncode})\n{result.stderr}")
        return result

    def _result(self, code, timed_out=False) -> RunResult:
        out = self.output_files[0].read_bytes()
        err = self.output_files[1].read_bytes()
        for file in self.output_files:
            file.unlink(missing_ok=True)
        return RunResult(exit_code=code, stdout=out.decode("utf-8", errors="replace"),
                         stderr=err.decode("utf-8", errors="replace"), timed_out=timed_out,
                         duration=time.monotonic() - self.started, stdout_bytes=out,
                         command=self.command)

    def kill(self) -> None:
        self.prefix.kill()
        self.process.wait()


class Prefix:
    """One Wine prefix of a test. Make it with Prefix.create(); destroy() deletes it."""

    def __init__(self, path: Path, arch: str, display: str | None = None):
        self.path = Path(path)
        self.arch = arch
        self.display = display
        self.drive_c = self.path / "drive_c"
        self.scratch = Path(str(self.path) + ".scratch")  # outside drive_c: not in snapshots
        self._counter = 0

    # -- life cycle ---------------------------------------------------------------------------

    @classmethod
    def create(cls, path: Path, arch: str = "win64", display: str | None = None) -> "Prefix":
        if arch not in ("win64", "win32"):
            raise ValueError(f"arch must be win64 or win32, not {arch!r}")
        subprocess.run([str(WINE_PREFIX_TOOL), "copy", "--arch", arch, str(path)], check=True)
        prefix = cls(path, arch, display)
        prefix._ensure_server()
        return prefix

    def _capture(self, command: list[str], timeout: float,
                 env: Mapping[str, str | None] | None = None) -> subprocess.CompletedProcess:
        """subprocess.run with stdout and stderr in files: a Wine service started during the
        run would keep a pipe open (see start())."""
        self._ensure_server()
        self._counter += 1
        self.scratch.mkdir(parents=True, exist_ok=True)
        paths = (self.scratch / f"capture-out-{self._counter}",
                 self.scratch / f"capture-err-{self._counter}")
        try:
            with open(paths[0], "wb") as out, open(paths[1], "wb") as err:
                process = subprocess.Popen(command, env=self.environment(env),
                                           stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                           start_new_session=True)
            try:
                process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
                raise
            return subprocess.CompletedProcess(command, process.returncode,
                                               paths[0].read_bytes(), paths[1].read_bytes())
        finally:
            for path in paths:
                path.unlink(missing_ok=True)

    def _ensure_server(self) -> None:
        """Starts the prefix's wineserver and Wine's services unless they run already.

        The server stays 60 s after its last client, so back-to-back programs start in about
        0.4 s instead of 2 s. The services (services.exe, explorer.exe, rpcss...) are started
        by a throw-away run: they would otherwise inherit the output files and the environment
        (say, a DLL override) of whichever test program happened to start them."""
        environment = self.environment()
        started = subprocess.run(["wineserver", "-p60"], env=environment,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if started.returncode == 0:
            # Listing the windows also starts explorer.exe, the desktop: two programs racing
            # to start it could otherwise end up on different desktops.
            subprocess.run([*self.tool_command("wintool.exe"), "list"],
                           env=environment, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)

    def kill(self) -> None:
        """Ends every Windows process of this prefix and its wineserver, which saves the
        registry into system.reg and user.reg on the way out."""
        environment = self.environment()
        subprocess.run(["wineserver", "-k"], env=environment, stderr=subprocess.DEVNULL,
                       check=False)
        subprocess.run(["wineserver", "-w"], env=environment, stderr=subprocess.DEVNULL,
                       check=False)

    def destroy(self) -> None:
        subprocess.run([str(WINE_PREFIX_TOOL), "destroy", str(self.path)], check=True)
        shutil.rmtree(self.scratch, ignore_errors=True)
        try:
            self.path.parent.rmdir()  # the folder unique_prefix_path() made for it
        except OSError:
            pass

    # -- running programs ---------------------------------------------------------------------

    @property
    def is_64bit(self) -> bool:
        return self.arch == "win64"

    def tool_command(self, name: str) -> list[str]:
        """How to start one of the harness's tools (HARNESS_TOOLS_64): in a 64-bit prefix
        its 64-bit build under wine64 when it is built, else the 32-bit one. They behave
        alike: the registry view is always chosen explicitly, and a program started by the
        runner is the same 32-bit process with the same environment either way."""
        if self.is_64bit and name in HARNESS_TOOLS_64:
            tool = WIN64_BUILD / "harness" / name
            if tool.exists() and os.access(WINE64_LOADER, os.X_OK):
                return [WINE64_LOADER, str(tool)]
        return ["wine", str(harness_program(name))]

    @property
    def program_files_32(self) -> str:
        """Where a 32-bit program's %ProgramFiles% points."""
        return "C:\\Program Files (x86)" if self.is_64bit else "C:\\Program Files"

    def environment(self, extra: Mapping[str, str | None] | None = None) -> dict[str, str]:
        """The Unix environment for wine. In `extra`, None removes a variable and
        WINEDLLOVERRIDES is added to the harness's own overrides."""
        environment = {k: v for k, v in os.environ.items()
                       if k not in ("WINEARCH", "WINESERVER", "WINELOADER", "WINEPREFIX")}
        environment.update(WINEPREFIX=str(self.path), WINEDEBUG="-all",
                           WINEDLLOVERRIDES=BASE_DLL_OVERRIDES)
        if self.display:
            environment["DISPLAY"] = self.display
        for name, value in (extra or {}).items():
            if value is None:
                environment.pop(name, None)
            elif name == "WINEDLLOVERRIDES":
                environment[name] = f"{BASE_DLL_OVERRIDES};{value}"
            else:
                environment[name] = value
        return environment

    def start(self, program: str | os.PathLike, args: Sequence[str] | str = (), *,
              cwd: str | os.PathLike | None = None, env: Mapping[str, str | None] | None = None,
              timeout: float = 120) -> RunningProgram:
        """Starts a program and returns at once; see run()."""
        program_path = self._program_windows_path(program)
        self._counter += 1
        self.scratch.mkdir(parents=True, exist_ok=True)
        exit_code_file = self.scratch / f"exit-code-{self._counter}"
        exit_code_file.unlink(missing_ok=True)
        command = [
            *self.tool_command("winrun.exe"), "--exit-code-file",
            self.windows_path(exit_code_file), "--timeout", str(int(timeout * 1000))
        ]
        if cwd is not None:
            command += ["--cwd", self._windows_path_of(cwd)]
        if isinstance(args, str):
            # A raw command line: the program gets exactly these characters after its name.
            command_line_file = self.scratch / f"command-line-{self._counter}"
            command_line_file.write_text(f'"{program_path}" {args}', encoding="utf-8")
            command += ["--command-line-file", self.windows_path(command_line_file)]
            shown = f"{program_path} {args}"
        else:
            command += ["--", program_path, *args]
            shown = " ".join([program_path, *args])
        # Files, not pipes: Wine services started during the run inherit its stdout and
        # stderr and keep them open, so end-of-file on a pipe could come minutes later.
        output_files = (self.scratch / f"stdout-{self._counter}",
                        self.scratch / f"stderr-{self._counter}")
        self._ensure_server()
        with open(output_files[0], "wb") as out, open(output_files[1], "wb") as err:
            process = subprocess.Popen(command, env=self.environment(env),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                       start_new_session=True)
        return RunningProgram(self, process, exit_code_file, output_files, shown, timeout)

    def run(self, program: str | os.PathLike, args: Sequence[str] | str = (), *,
            cwd: str | os.PathLike | None = None, env: Mapping[str, str | None] | None = None,
            timeout: float = 120) -> RunResult:
        """Runs a Windows program to its end and returns its exit code and output.

        program: a host path (Path, or str starting with "/") or a Windows path ("C:\\...").
        args:    a list (each item quoted as CommandLineToArgvW expects) or a str, which is
                 passed byte for byte as the rest of the command line.
        cwd:     host or Windows path. env: see environment().
        timeout: seconds; then the program is ended and RunResult.timed_out is set.
        """
        return self.start(program, args, cwd=cwd, env=env, timeout=timeout).wait()

    def wine(self, *args: str, timeout: float = 120,
             env: Mapping[str, str | None] | None = None) -> subprocess.CompletedProcess:
        """`wine ARGS...` in this prefix, e.g. prefix.wine("cmd", "/c", "echo", "%windir%")."""
        return self._capture(["wine", *args], timeout, env)

    def _program_windows_path(self, program: str | os.PathLike) -> str:
        if isinstance(program, Path) or str(program).startswith("/"):
            path = Path(program)
            if not path.exists():
                raise FileNotFoundError(path)
            return self.windows_path(path)
        return str(program)

    def _windows_path_of(self, path: str | os.PathLike) -> str:
        if isinstance(path, Path) or str(path).startswith("/"):
            return self.windows_path(Path(path))
        return str(path)

    # -- paths and files ----------------------------------------------------------------------

    def windows_path(self, host_path: str | os.PathLike) -> str:
        """C:\\... for a path inside drive_c, Z:\\... (the Unix root) for any other."""
        path = Path(os.path.abspath(host_path))
        try:
            relative = path.relative_to(self.drive_c)
            return "C:\\" + ("" if relative == Path(".") else str(relative).replace("/", "\\"))
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    def host_path(self, windows_path: str) -> Path:
        """The Unix path of C:\\... or Z:\\...; names are matched without regard to case, as
        Windows does, so C:\\PROGRAM FILES finds drive_c/Program Files."""
        text = windows_path.replace("/", "\\")
        match = re.match(r"^([A-Za-z]):\\?(.*)$", text)
        if not match:
            raise ValueError(f"not an absolute Windows path: {windows_path!r}")
        drive, rest = match.group(1).lower(), match.group(2)
        base = Path(os.path.realpath(self.path / "dosdevices" / f"{drive}:"))
        path = base
        for part in [p for p in rest.split("\\") if p]:
            candidate = path / part
            if not candidate.exists() and path.is_dir():
                for entry in os.listdir(path):
                    if entry.lower() == part.lower():
                        candidate = path / entry
                        break
            path = candidate
        return path

    def exists(self, windows_path: str) -> bool:
        return self.host_path(windows_path).exists()

    def read_file(self, windows_path: str) -> bytes:
        return self.host_path(windows_path).read_bytes()

    def read_text(self, windows_path: str, encoding: str = "utf-8") -> str:
        return self.host_path(windows_path).read_text(encoding=encoding)

    def write_file(self, windows_path: str, data: bytes | str) -> Path:
        path = self.host_path(windows_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    # -- registry -----------------------------------------------------------------------------

    def _regtool(self, view: int, *args: str) -> subprocess.CompletedProcess:
        if view not in (32, 64):
            raise ValueError("view must be 32 or 64")
        result = self._capture(
            [*self.tool_command("regtool.exe"), "--view", str(view), *args], 120)
        if result.returncode not in (0, 2, 3):
            raise WineError(f"regtool {' '.join(args)}: status {result.returncode}\n"
                            f"{result.stderr.decode(errors='replace')}")
        return result

    @staticmethod
    def _parse_values(output: bytes) -> dict[str, dict[str, RegValue]]:
        tree: dict[str, dict[str, RegValue]] = {}
        current: dict[str, RegValue] = tree.setdefault("", {})
        for line in output.decode("ascii").splitlines():
            parts = line.split(" ")
            if parts[0] == "K":
                current = tree.setdefault(bytes.fromhex(parts[1]).decode("utf-8"), {})
            elif parts[0] == "V":
                name = bytes.fromhex(parts[1]).decode("utf-8")
                current[name] = RegValue.decode(int(parts[2]), bytes.fromhex(parts[3]))
        return tree

    def reg_query(self, key: str, value: str = "", *, view: int) -> RegValue | None:
        """One value ("" is the default value) in the 32-bit or 64-bit view, or None when the
        key or the value does not exist. On a 32-bit prefix both views are the same."""
        result = self._regtool(view, "query", key, value)
        if result.returncode != 0:
            return None
        values = self._parse_values(result.stdout)[""]
        return next(iter(values.values()))

    def reg_values(self, key: str, *, view: int) -> dict[str, RegValue] | None:
        """All values of a key by name, or None when the key does not exist."""
        result = self._regtool(view, "query", key)
        return None if result.returncode else self._parse_values(result.stdout)[""]

    def reg_exists(self, key: str, *, view: int) -> bool:
        return self._regtool(view, "query", key).returncode == 0

    def reg_tree(self, key: str, *, view: int) -> dict[str, dict[str, RegValue]] | None:
        """The key and all keys below it: {full key path: {value name: RegValue}}."""
        result = self._regtool(view, "dump", key)
        if result.returncode:
            return None
        tree = self._parse_values(result.stdout)
        tree.pop("", None)
        return tree

    def reg_set(self, key: str, value: str, data: object, type: str = "REG_SZ", *,
                view: int) -> None:
        raw = RegValue.encode(data, type)
        result = self._regtool(view, "set", key, value, str(REG_TYPE_NUMBERS[type]), raw.hex())
        if result.returncode:
            raise WineError(f"cannot set {key} [{value}]")

    def reg_delete_key(self, key: str, *, view: int) -> bool:
        """Deletes the key and its subkeys; False when it did not exist."""
        return self._regtool(view, "delete-key", key).returncode == 0

    def reg_delete_value(self, key: str, value: str, *, view: int) -> bool:
        return self._regtool(view, "delete-value", key, value).returncode == 0

    # -- the system ---------------------------------------------------------------------------

    def osinfo(self) -> dict[str, str]:
        """What a 32-bit program learns about the system (tests/harness/osinfo.c)."""
        result = self.run(harness_program("osinfo.exe"), timeout=60)
        if result.exit_code != 0:
            raise WineError(str(result))
        return dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)

    def security(self, path: str) -> str:
        """The owner and access list of a file or folder (a Windows path) as SDDL, as a
        program reads them back (Wine builds them from the Unix owner and mode bits)."""
        result = self.run(harness_program("osinfo.exe"), [path], timeout=60)
        if result.exit_code != 0:
            raise WineError(str(result))
        value = dict(line.split("=", 1) for line in result.stdout.splitlines()
                     if "=" in line)[f"security:{path}"]
        if value.startswith("error "):
            raise WineError(f"cannot read the access list of {path}: {value}")
        return value

    def set_windows_version(self, version: str) -> dict[str, str]:
        """Makes the prefix report another Windows version and checks that it does; returns
        the osinfo() seen afterwards.

        Wine 8.0 swaps the product types of "win7" (reports a server) and "win2008r2" (reports
        a workstation). Both come out right when the Version setting is removed: Wine then
        reports the version written in the registry (6.1 SP1) and takes workstation or server
        from ProductOptions\\ProductType.
        """
        if version not in WINDOWS_VERSIONS:
            raise ValueError(f"unknown Windows version {version!r}; one of "
                             f"{', '.join(WINDOWS_VERSIONS)}")
        product_options = "HKLM\\System\\CurrentControlSet\\Control\\ProductOptions"
        view = 64 if self.is_64bit else 32
        if version in ("win7", "win2008r2"):
            self.reg_delete_value("HKCU\\Software\\Wine", "Version", view=view)
        else:
            self.reg_set("HKCU\\Software\\Wine", "Version", version, view=view)
        self.reg_set(product_options, "ProductType",
                     "ServerNT" if version == "win2008r2" else "WinNT", view=view)
        major, minor, product_type = WINDOWS_VERSIONS[version]
        seen = {}
        # Verified, and asked more than once: a switch between workstation and server has been
        # seen to show up one run late.
        for _ in range(3):
            seen = self.osinfo()
            if (int(seen["rtl.major"]), int(seen["rtl.minor"]),
                    int(seen["rtl.product_type"])) == (major, minor, product_type):
                return seen
        raise WineError(f"set_windows_version({version!r}) did not take: the prefix reports "
                        f"{seen.get('rtl.major')}.{seen.get('rtl.minor')} product type "
                        f"{seen.get('rtl.product_type')}")

    # -- windows ------------------------------------------------------------------------------

    def _wintool(self, *args: str, timeout: float = 60) -> subprocess.CompletedProcess:
        return self._capture([*self.tool_command("wintool.exe"), *args], timeout)

    def windows(self, visible_only: bool = True) -> list[Window]:
        """The top-level windows on the prefix's desktop, with their controls."""
        windows = _parse_windows(self._wintool("list").stdout.decode("ascii"))
        return [w for w in windows if w.visible or not visible_only]

    def wait_for_window(self, title_part: str, timeout: float = 30) -> Window:
        """The first visible top-level window whose title contains title_part (any case)."""
        result = self._wintool("wait", title_part, str(int(timeout * 1000)),
                               timeout=timeout + 60)
        windows = _parse_windows(result.stdout.decode("ascii"))
        if result.returncode or not windows:
            titles = [w.title for w in self.windows()]
            raise WineError(f"no window titled like {title_part!r} within {timeout} s; "
                            f"visible: {titles}")
        return windows[0]

    def wait_for_page(self, title: str, control_id: int, *, enabled: int | None = None,
                      visible: bool = True, timeout: float = 60) -> Window:
        """The window titled `title` that has the control `control_id` (visible, unless told
        otherwise), and with `enabled` the control of that id enabled: the pages of a wizard
        replace each other under one title, told apart by their controls."""
        deadline = time.monotonic() + timeout
        while True:
            for window in self.windows():
                if window.title != title:
                    continue
                ids = {control.id: control for control in window.controls}
                if (control_id in ids and (not visible or ids[control_id].visible)
                        and (enabled is None or ids[enabled].enabled)):
                    return window
            if time.monotonic() > deadline:
                seen = [(w.title, [c.id for c in w.controls]) for w in self.windows()]
                raise WineError(f"no window {title!r} with control {control_id} within "
                                f"{timeout} s; seen: {seen}")
            time.sleep(0.3)

    def click(self, window: Window | int, control_id: int) -> None:
        """Presses a button of a dialog (WM_COMMAND/BN_CLICKED to the window, posted)."""
        hwnd = window.hwnd if isinstance(window, Window) else window
        result = self._wintool("click", str(hwnd), str(control_id))
        if result.returncode:
            raise WineError(result.stderr.decode(errors="replace"))

    def set_text(self, window: Window | int, control_id: int, text: str) -> None:
        hwnd = window.hwnd if isinstance(window, Window) else window
        result = self._wintool("settext", str(hwnd), str(control_id), text)
        if result.returncode:
            raise WineError(result.stderr.decode(errors="replace"))

    def close_window(self, window: Window | int) -> None:
        hwnd = window.hwnd if isinstance(window, Window) else window
        self._wintool("close", str(hwnd))

    def press(self, window: Window | int, control_id: int) -> None:
        """Clicks a button, check box or radio button the way the mouse would (BM_CLICK): its
        state changes first, then the dialog is told."""
        hwnd = window.hwnd if isinstance(window, Window) else window
        result = self._wintool("press", str(hwnd), str(control_id))
        if result.returncode:
            raise WineError(result.stderr.decode(errors="replace"))

    def focus(self, window: Window | int) -> int:
        """The id of the control that has the keyboard focus in the window's thread (0: none,
        -1: the window itself)."""
        hwnd = window.hwnd if isinstance(window, Window) else window
        result = self._wintool("focus", str(hwnd))
        if result.returncode:
            raise WineError(f"no focus of window {hwnd}")
        return int(result.stdout)

    def window_rect(self, window: Window | int) -> tuple[int, int, int, int]:
        """left, top, right, bottom of the window on the screen."""
        hwnd = window.hwnd if isinstance(window, Window) else window
        result = self._wintool("rect", str(hwnd))
        if result.returncode:
            raise WineError(f"no window {hwnd}")
        left, top, right, bottom = (int(part) for part in result.stdout.split())
        return left, top, right, bottom

    def working_set(self, window: Window | int) -> int:
        """Bytes of memory the window's process holds (its working set, as Wine reads it from
        the process's resident size)."""
        hwnd = window.hwnd if isinstance(window, Window) else window
        result = self._wintool("memory", str(hwnd))
        fields = result.stdout.decode().split()
        if result.returncode or "workingset" not in fields:
            raise WineError(f"no memory figures for window {hwnd}")
        return int(fields[fields.index("workingset") + 1])

    def type_keys(self, *keys: str) -> None:
        """Key presses into the display with xdotool (names such as Tab, Return, space,
        shift+Tab), as from a keyboard: the X server hands them to Wine, and Wine to the
        window with the focus. With no window manager, X gives keys to the window under the
        pointer, so the pointer is put in the middle of the screen first, where unowned
        dialogs open."""
        if not self.display:
            raise WineError("this prefix has no display")
        env = self.environment()
        subprocess.run(["xdotool", "mousemove", "512", "384"], env=env, check=True,
                       capture_output=True)
        subprocess.run(["xdotool", "key", "--delay", "150", *keys], env=env, check=True,
                       capture_output=True)
        # Wine takes the keys from its X connection in its own time.
        time.sleep(0.5)

    def screenshot(self, path: str | os.PathLike) -> Path:
        """A PNG of the whole (virtual) screen of this prefix's display."""
        if not self.display:
            raise WineError("this prefix has no display")
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)],
                       check=True, capture_output=True, timeout=60)
        return Path(path)

    # -- snapshots ----------------------------------------------------------------------------

    def snapshot(self, registry: bool = True, files: bool = True) -> Snapshot:
        """Files under drive_c and the whole saved registry, for comparing before and after.

        Stops the prefix's wineserver (and so every Windows process in it) first: Wine writes
        the registry to disk only when the server exits. The next program starts it again.
        Files hard-linked to the pristine prefix are compared by inode and modification time
        instead of content (hashing 1.2 GB each time would take seconds)."""
        names: dict[str, str] = {}
        file_states: dict[str, FileState] = {}
        registry_state: dict[str, dict[str, str]] = {}
        if registry:
            self.kill()
            for file_name, root in (("system.reg", "HKLM"), ("user.reg", "HKCU"),
                                    ("userdef.reg", "HKU\\.Default")):
                _parse_reg_file(self.path / file_name, root, registry_state, names)
            # Wine saves only keys that hold values or have no subkeys; the keys between are
            # implied, and a snapshot lists them too, so an empty key left behind shows up
            # however deep it is.
            for key in list(registry_state):
                name = names[key]
                while "\\" in name:
                    name = name.rsplit("\\", 1)[0]
                    if name.lower() in registry_state:
                        break
                    registry_state[name.lower()] = {}
                    names[name.lower()] = name
            for key in [k for k in registry_state if _ignored(k, IGNORED_KEYS)]:
                del registry_state[key]
        if files:
            for directory, dirs, file_names in os.walk(self.drive_c):
                for name in dirs + file_names:
                    host = Path(directory) / name
                    windows = self.windows_path(host)
                    key = windows.lower()
                    if _ignored(key, IGNORED_FILES):
                        continue
                    names[key] = windows
                    file_states[key] = self._file_state(host)
        return Snapshot(files=file_states, registry=registry_state, names=names)

    @staticmethod
    def _file_state(path: Path) -> FileState:
        info = path.lstat()
        if stat.S_ISLNK(info.st_mode):
            return FileState("link", digest=os.readlink(path))
        if stat.S_ISDIR(info.st_mode):
            return FileState("dir")
        if info.st_nlink > 1:
            return FileState("file", info.st_size, f"inode {info.st_ino} {info.st_mtime_ns}")
        digest = hashlib.sha1()
        with open(path, "rb") as file:
            for block in iter(lambda: file.read(1 << 20), b""):
                digest.update(block)
        return FileState("file", info.st_size, digest.hexdigest())


def check_pristine(arch: str) -> str:
    """Empty when the pristine prefix is unchanged, else the complaint of wine-prefix check."""
    result = subprocess.run([str(WINE_PREFIX_TOOL), "check", "--arch", arch],
                            capture_output=True, text=True)
    return "" if result.returncode == 0 else result.stderr


def start_xvfb() -> tuple[subprocess.Popen, str]:
    """A private X server for the windows of the programs under test; returns it and its
    DISPLAY. -displayfd lets Xvfb pick a free display number and say so once it is ready."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
         "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as reader:
        number = reader.readline().strip()
    if not number:
        process.kill()
        raise WineError("Xvfb did not start")
    return process, f":{number}"


def unique_prefix_path(name: str) -> Path:
    safe = re.sub(r"[^A-Za-z0-9_.-]+", "_", name)[:80]
    (WINE_ROOT / "tests").mkdir(parents=True, exist_ok=True)
    return Path(tempfile.mkdtemp(prefix=f"{safe}-", dir=WINE_ROOT / "tests")) / "prefix"


__all__ = [
    "Window", "Control", "Prefix", "RunResult", "RunningProgram", "RegValue", "Snapshot", "SnapshotDiff",
    "FileState", "WineError", "WINDOWS_VERSIONS", "win_build_path", "harness_program",
    "check_pristine", "start_xvfb", "unique_prefix_path"
]
