"""Runs cross-built Windows programs in throw-away Wine prefixes and inspects what they did
(README.md). A Prefix is a cheap copy of a pristine prefix (scripts/wine-prefix) with its own
wineserver. Programs run through the harness's winrun.exe, so a test sees the real signed
32-bit exit code, not the 8 bits a Unix status keeps."""

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
# The harness's own tools that also exist as 64-bit builds (tests/harness/CMakeLists.txt).
HARNESS_TOOLS_64 = ("winrun.exe", "wintool.exe", "regtool.exe")

# What RtlGetVersion must report for each version Wine can pretend to be: (major, minor,
# product type), 1 a workstation, 3 a server.
WINDOWS_VERSIONS = {
    "nt40": (4, 0, 1), "win2k": (5, 0, 1), "winxp": (5, 1, 1), "winxp64": (5, 2, 1),
    "win2003": (5, 2, 3), "vista": (6, 0, 1), "win2008": (6, 0, 3), "win7": (6, 1, 1),
    "win2008r2": (6, 1, 3), "win8": (6, 2, 1), "win81": (6, 3, 1), "win10": (10, 0, 1),
}


class WineError(RuntimeError):
    """Wine or a harness program failed in a way no test should have to interpret."""


def win_build_path(relative: str | os.PathLike) -> Path:
    path = WIN_BUILD / relative
    if not path.exists():
        raise FileNotFoundError(
            f"{path} is not built; run scripts/build.sh (or set CORVANE_WIN_BUILD)")
    return path


def harness_program(name: str) -> Path:
    return win_build_path(Path("tests") / "harness" / name)


@dataclasses.dataclass
class RunResult:
    exit_code: int | None  # None only when it timed out
    stdout: str
    stderr: str
    timed_out: bool
    command: str

    def __str__(self) -> str:
        state = "timed out" if self.timed_out else f"exit code {self.exit_code}"
        return (f"{self.command}: {state}\n--- stdout ---\n{self.stdout}"
                f"--- stderr ---\n{self.stderr}")


@dataclasses.dataclass(frozen=True)
class RegValue:
    type: int  # REG_SZ 1, REG_EXPAND_SZ 2, REG_DWORD 4, REG_MULTI_SZ 7, REG_QWORD 11...
    data: object  # str, int, list of str for REG_MULTI_SZ, else the bytes

    @staticmethod
    def decode(type_number: int, raw: bytes) -> "RegValue":
        text = raw.decode("utf-16-le", errors="replace")
        number = int.from_bytes(raw, "little")
        return RegValue(type_number, {1: text.split("\0", 1)[0], 2: text.split("\0", 1)[0],
                                      4: number, 7: [part for part in text.split("\0") if part],
                                      11: number}.get(type_number, raw))


@dataclasses.dataclass
class Snapshot:
    """files: {"c:\\path" (lower case): state}; registry: {"hklm\\key" (lower case): set of its
    value lines in Wine's notation}."""

    files: dict[str, tuple]
    registry: dict[str, set[str]]

    def diff(self, before: "Snapshot", ignore: Iterable[str] = ()) -> str:
        """What changed from `before`, one line each ("file added: C:\\..."); empty when
        nothing did. `ignore`: regular expressions searched in the lower-case paths and keys."""
        patterns = [re.compile(pattern) for pattern in ignore]
        lines = []
        for kind, old, new in (("file", before.files, self.files),
                               ("key", before.registry, self.registry)):
            old = {k: v for k, v in old.items() if not any(p.search(k) for p in patterns)}
            new = {k: v for k, v in new.items() if not any(p.search(k) for p in patterns)}
            lines += [f"{kind} added: {k}" for k in sorted(new.keys() - old.keys())]
            lines += [f"{kind} removed: {k}" for k in sorted(old.keys() - new.keys())]
            lines += [f"{kind} changed: {k}" + ("" if kind == "file" else
                      f": {sorted(old[k] - new[k])} -> {sorted(new[k] - old[k])}")
                      for k in sorted(old.keys() & new.keys()) if old[k] != new[k]]
        return "\n".join(lines)


# Keys a snapshot leaves out. Checked: running console and GUI programs, message boxes,
# switching the Windows version and restarting the wineserver change nothing else in drive_c
# or the saved registry. The display adapter: Wine's X11 driver writes the GPU's driver date
# each time the desktop (explorer.exe) starts with a display.
IGNORED_KEY = re.compile(r"^hklm\\system\\currentcontrolset\\control\\class\\"
                        r"\{4d36e968-e325-11ce-bfc1-08002be10318\}\\")
_KEY_LINE = re.compile(r"^\[(.*)\] \d+$")


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
    hwnd: int
    pid: int
    class_name: str
    title: str
    visible: bool
    controls: list[Control] = dataclasses.field(default_factory=list)

    def control(self, text: str | None = None, *, id: int | None = None) -> Control:
        """The control with this id, or with this text ("&" accelerators ignored)."""
        for control in self.controls:
            if control.id == id or (text is not None
                                    and control.text.replace("&", "") == text.replace("&", "")):
                return control
        raise LookupError(f"no control {text if id is None else id!r} in {self.title!r}: "
                          f"{[(c.id, c.text) for c in self.controls]}")

    @property
    def texts(self) -> list[str]:
        return [control.text for control in self.controls if control.text]


def _parse_windows(output: bytes) -> list[Window]:
    """wintool list's lines (tests/harness/wintool.c)."""
    def text(field: str) -> str:
        return "" if field == "-" else bytes.fromhex(field).decode("utf-8", errors="replace")

    windows: list[Window] = []
    for parts in (line.split(" ") for line in output.decode("ascii").splitlines()):
        if parts[0] == "W" and len(parts) == 6:
            windows.append(Window(int(parts[1]), int(parts[2]), text(parts[4]), text(parts[5]),
                                  parts[3] == "1", []))
        elif parts[0] == "C" and len(parts) == 8:  # listed right after their window
            windows[-1].controls.append(Control(int(parts[2]), int(parts[3]), text(parts[6]),
                                                text(parts[7]), parts[4] == "1", parts[5] == "1"))
    return windows


def wait_until(condition, what: str, timeout: float, running=None, pause: float = 0.1) -> None:
    """Asks condition() again and again until it holds; fails when `running` (a
    RunningProgram) ends first or the time runs out."""
    deadline = time.monotonic() + timeout
    while not condition():
        assert running is None or running.process.poll() is None, \
            f"ended before {what}:\n{running.wait()}"
        assert time.monotonic() < deadline, f"no {what} within {timeout} s"
        time.sleep(pause)


class RunningProgram:
    def __init__(self, prefix: "Prefix", process: subprocess.Popen, exit_code_file: Path,
                 output: tuple, command: str, timeout: float):
        self.prefix, self.process, self.exit_code_file = prefix, process, exit_code_file
        self.output, self.command, self.timeout = output, command, timeout

    def wait(self, timeout: float | None = None) -> RunResult:
        # winrun ends the program when its own timeout runs out; the extra time here only
        # catches Wine itself hanging.
        try:
            self.process.wait(timeout=(self.timeout if timeout is None else timeout) + 30)
            text = self.exit_code_file.read_text().strip() if self.exit_code_file.exists() else ""
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            text = "timeout"
        self.exit_code_file.unlink(missing_ok=True)
        out, err = (_read_all(file) for file in self.output)
        code = int(text) if re.fullmatch(r"-?\d+", text) else None
        result = RunResult(code, out, err, text == "timeout", self.command)
        if text == "timeout":
            self.prefix.kill()  # whatever the program started is still running
        elif code is None:
            raise WineError(f"{self.command}: winrun reported {text or 'no exit code'} (wine "
                            f"status {self.process.returncode})\n{err}")
        return result

    def kill(self) -> None:
        self.prefix.kill()
        self.process.wait()


class Prefix:
    """One Wine prefix of a test. Make it with Prefix.create(); destroy() deletes it."""

    def __init__(self, path: Path, arch: str, display: str | None = None):
        self.path = Path(path)
        self.arch = arch
        self.is_64bit = arch == "win64"
        self.display = display
        self.drive_c = self.path / "drive_c"
        self.scratch = Path(str(self.path) + ".scratch")  # outside drive_c: not in snapshots
        self._counter = 0

    @classmethod
    def create(cls, path: Path, arch: str = "win64", display: str | None = None) -> "Prefix":
        subprocess.run([str(WINE_PREFIX_TOOL), "copy", "--arch", arch, str(path)], check=True)
        prefix = cls(path, arch, display)
        prefix._ensure_server()
        return prefix

    def _popen(self, command: list[str], env=None) -> tuple[subprocess.Popen, tuple]:
        """Output into unnamed files, not pipes: a Wine service started during the run inherits
        them and keeps them open, so end-of-file on a pipe could come minutes later."""
        self._ensure_server()
        output = (tempfile.TemporaryFile(), tempfile.TemporaryFile())
        return subprocess.Popen(command, env=self.environment(env), stdin=subprocess.DEVNULL,
                                stdout=output[0], stderr=output[1],
                                start_new_session=True), output

    def _capture(self, command: list[str], timeout: float = 120,
                 env: Mapping[str, str | None] | None = None) -> subprocess.CompletedProcess:
        process, output = self._popen(command, env)
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise
        return subprocess.CompletedProcess(command, process.returncode,
                                           *(_read_all(file, text=False) for file in output))

    def _ensure_server(self) -> None:
        """Starts the prefix's wineserver and Wine's services unless they run already.

        The server stays 60 s after its last client, so back-to-back programs start in about
        0.4 s instead of 2 s. The services are started by a throw-away run (listing the
        windows, which also starts the desktop): they would otherwise inherit the output files
        and environment of whichever test program happened to start them."""
        environment = self.environment()
        if subprocess.run(["wineserver", "-p60"], env=environment, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            subprocess.run([*self.tool_command("wintool.exe"), "list"], env=environment,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)

    def kill(self) -> None:
        """Ends every Windows process of this prefix and its wineserver, which saves the
        registry into system.reg and user.reg on the way out."""
        for option in ("-k", "-w"):
            subprocess.run(["wineserver", option], env=self.environment(),
                           stderr=subprocess.DEVNULL, check=False)

    def destroy(self) -> None:
        subprocess.run([str(WINE_PREFIX_TOOL), "destroy", str(self.path)], check=True)
        shutil.rmtree(self.scratch, ignore_errors=True)
        shutil.rmtree(self.path.parent, ignore_errors=True)  # made by unique_prefix_path()

    def tool_command(self, name: str) -> list[str]:
        """A harness tool: in a 64-bit prefix its 64-bit build under wine64 when built. Both
        behave alike: registry views are always explicit, and a program winrun starts is the
        same 32-bit process either way."""
        tool = WIN64_BUILD / "harness" / name
        if (self.is_64bit and name in HARNESS_TOOLS_64 and tool.exists()
                and os.access(WINE64_LOADER, os.X_OK)):
            return [WINE64_LOADER, str(tool)]
        return ["wine", str(harness_program(name))]

    def environment(self, extra: Mapping[str, str | None] | None = None) -> dict[str, str]:
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

    def start(self, program: str | os.PathLike, args: Sequence[str] = (), *,
              cwd: str | os.PathLike | None = None, env: Mapping[str, str | None] | None = None,
              timeout: float = 120) -> RunningProgram:
        program_path = str(program)
        if isinstance(program, Path) or program_path.startswith("/"):
            if not Path(program).exists():
                raise FileNotFoundError(program)
            program_path = self.windows_path(program)
        self._counter += 1
        self.scratch.mkdir(parents=True, exist_ok=True)
        exit_code_file = self.scratch / f"exit-code-{self._counter}"
        command = [*self.tool_command("winrun.exe"), "--exit-code-file",
                   self.windows_path(exit_code_file), "--timeout", str(int(timeout * 1000))]
        if cwd is not None:
            command += ["--cwd", self.windows_path(cwd) if isinstance(cwd, Path) else str(cwd)]
        process, output = self._popen([*command, "--", program_path, *args], env)
        return RunningProgram(self, process, exit_code_file, output,
                              " ".join([program_path, *args]), timeout)

    def run(self, program: str | os.PathLike, args: Sequence[str] = (), *,
            cwd: str | os.PathLike | None = None, env: Mapping[str, str | None] | None = None,
            timeout: float = 120) -> RunResult:
        return self.start(program, args, cwd=cwd, env=env, timeout=timeout).wait()

    def wine(self, *args: str, timeout: float = 120,
             env: Mapping[str, str | None] | None = None) -> subprocess.CompletedProcess:
        return self._capture(["wine", *args], timeout, env)

    def windows_path(self, host_path: str | os.PathLike) -> str:
        """C:\\... for a path inside drive_c, Z:\\... (the Unix root) for any other."""
        path = Path(os.path.abspath(host_path))
        if path.is_relative_to(self.drive_c):
            relative = path.relative_to(self.drive_c)
            return "C:\\" + ("" if relative == Path(".") else str(relative).replace("/", "\\"))
        return "Z:" + str(path).replace("/", "\\")

    def host_path(self, windows_path: str) -> Path:
        """The Unix path of C:\\... or Z:\\...; names are matched without regard to case, as
        Windows does, so C:\\PROGRAM FILES finds drive_c/Program Files."""
        match = re.match(r"^([A-Za-z]):\\?(.*)$", windows_path.replace("/", "\\"))
        if not match:
            raise ValueError(f"not an absolute Windows path: {windows_path!r}")
        path = Path(os.path.realpath(self.path / "dosdevices" / f"{match.group(1).lower()}:"))
        for part in [p for p in match.group(2).split("\\") if p]:
            candidate = path / part
            if not candidate.exists() and path.is_dir():
                candidate = next((path / entry for entry in os.listdir(path)
                                  if entry.lower() == part.lower()), candidate)
            path = candidate
        return path

    def exists(self, windows_path: str) -> bool:
        return self.host_path(windows_path).exists()

    def read_file(self, windows_path: str) -> bytes:
        return self.host_path(windows_path).read_bytes()

    def write_file(self, windows_path: str, data: bytes | str) -> Path:
        path = self.host_path(windows_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data.encode("utf-8") if isinstance(data, str) else data)
        return path

    def _regtool(self, view: int, *args: str) -> dict[str, RegValue] | None:
        """The values regtool printed, None when it found no such key or value."""
        result = self._capture([*self.tool_command("regtool.exe"), "--view", str(view), *args])
        if result.returncode not in (0, 2, 3):
            raise WineError(f"regtool {' '.join(args)}: status {result.returncode}\n"
                            f"{result.stderr.decode(errors='replace')}")
        lines = [line.split(" ") for line in result.stdout.decode("ascii").splitlines()]
        return None if result.returncode else {
            bytes.fromhex(name).decode("utf-8"): RegValue.decode(int(kind), bytes.fromhex(data))
            for _, name, kind, data in lines}

    def reg_query(self, key: str, value: str = "", *, view: int) -> RegValue | None:
        values = self._regtool(view, "query", key, value)
        return None if values is None else next(iter(values.values()))

    def reg_values(self, key: str, *, view: int) -> dict[str, RegValue] | None:
        return self._regtool(view, "query", key)

    def reg_exists(self, key: str, *, view: int) -> bool:
        return self.reg_values(key, view=view) is not None

    def reg_set(self, key: str, value: str, text: str, *, view: int) -> None:
        self._regtool(view, "set", key, value, text)

    def _osinfo(self, *paths: str) -> dict[str, str]:
        result = self.run(harness_program("osinfo.exe"), list(paths), timeout=60)
        if result.exit_code != 0:
            raise WineError(str(result))
        return dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)

    def security(self, path: str) -> str:
        """Owner and access list as SDDL (Wine builds them from the Unix owner and mode)."""
        value = self._osinfo(path)[f"security:{path}"]
        assert not value.startswith("error "), f"access list of {path}: {value}"
        return value

    def set_windows_version(self, version: str) -> None:
        """Makes the prefix report another Windows version and checks that it does. Wine 8.0
        swaps the product types of "win7" (reports a server) and "win2008r2" (reports a
        workstation), so each is asked for by the other's name."""
        swapped = {"win7": "win2008r2", "win2008r2": "win7"}
        self.reg_set("HKCU\\Software\\Wine", "Version", swapped.get(version, version),
                     view=64 if self.is_64bit else 32)
        wanted = tuple(str(number) for number in WINDOWS_VERSIONS[version])
        # Asked more than once: a switch between workstation and server has been seen to show
        # up one run late.
        for _ in range(3):
            seen = self._osinfo()
            if (seen["rtl.major"], seen["rtl.minor"], seen["rtl.product_type"]) == wanted:
                return
        raise WineError(f"set_windows_version({version!r}) did not take: {seen}")

    def _wintool(self, command: str, window: Window | int | None = None, *args: str,
                 timeout: float = 60) -> subprocess.CompletedProcess:
        hwnd = [] if window is None else [str(getattr(window, "hwnd", window))]
        result = self._capture([*self.tool_command("wintool.exe"), command, *hwnd, *args],
                               timeout)
        if result.returncode and command != "close":
            raise WineError(f"wintool {command} {hwnd} {args}: status {result.returncode}")
        return result

    def windows(self) -> list[Window]:
        """The visible top-level windows on the prefix's desktop, with their controls."""
        # Under heavy load a new process now and then finds no desktop to list at once.
        for attempt in range(3):
            try:
                return [w for w in _parse_windows(self._wintool("list").stdout) if w.visible]
            except WineError:
                if attempt == 2:
                    raise
                time.sleep(1)

    def _wait_for(self, matches, what: str, timeout: float) -> Window:
        deadline = time.monotonic() + timeout
        while True:
            windows = self.windows()
            found = next((window for window in windows if matches(window)), None)
            if found is not None:
                return found
            if time.monotonic() > deadline:
                seen = [(w.title, [c.id for c in w.controls]) for w in windows]
                raise WineError(f"no {what} within {timeout} s; seen: {seen}")
            time.sleep(0.3)

    def wait_for_window(self, title_part: str, timeout: float = 30, exact: bool = False) -> Window:
        # exact: as the setup's message boxes are titled (its pages' titles hold it too).
        return self._wait_for(lambda window: window.title == title_part if exact
                              else title_part.lower() in window.title.lower(),
                              f"window titled like {title_part!r}", timeout)

    def wait_for_page(self, title: str, control_id: int, *, enabled: int | None = None,
                      visible: bool = True, timeout: float = 60) -> Window:
        """The pages of a wizard replace each other under one title, told apart by their
        controls."""
        def matches(window: Window) -> bool:
            ids = {control.id: control for control in window.controls}
            return (window.title == title and control_id in ids
                    and (not visible or ids[control_id].visible)
                    and (enabled is None or ids[enabled].enabled))
        return self._wait_for(matches, f"window {title!r} with control {control_id}", timeout)

    def press(self, window: Window | int, control_id: int) -> None:
        self._wintool("press", window, str(control_id))

    def set_text(self, window: Window | int, control_id: int, text: str) -> None:
        self._wintool("settext", window, str(control_id), text)

    def close_window(self, window: Window | int) -> None:
        self._wintool("close", window)

    def focus(self, window: Window | int) -> int:
        return int(self._wintool("focus", window).stdout)

    def window_rect(self, window: Window | int) -> tuple[int, ...]:
        return tuple(int(part) for part in self._wintool("rect", window).stdout.split())

    def working_set(self, window: Window | int) -> int:
        return int(self._wintool("memory", window).stdout.split()[1])

    def type_keys(self, *keys: str) -> None:
        """Key presses into the display with xdotool (Tab, Return, space, shift+Tab...), as
        from a keyboard. With no window manager X gives keys to the window under the pointer,
        so the pointer goes to the middle of the screen first, where unowned dialogs open."""
        env = self.environment()
        subprocess.run(["xdotool", "mousemove", "512", "384"], env=env, check=True,
                       capture_output=True)
        subprocess.run(["xdotool", "key", "--delay", "150", *keys], env=env, check=True,
                       capture_output=True)
        time.sleep(0.5)  # Wine takes the keys from its X connection in its own time.

    def snapshot(self, registry: bool = True) -> Snapshot:
        """Files under drive_c and the whole saved registry, for comparing before and after.

        Stops the prefix's wineserver (and so every Windows process in it) first: Wine writes
        the registry to disk only when the server exits. Files hard-linked to the pristine
        prefix are compared by inode and modification time instead of content."""
        keys: dict[str, set[str]] = {}
        if registry:
            self.kill()
            for file_name, root in (("system.reg", "HKLM"), ("user.reg", "HKCU"),
                                    ("userdef.reg", "HKU\\.Default")):
                values: set[str] | None = None
                text = (self.path / file_name).read_text(encoding="utf-8", errors="surrogateescape")
                for line in re.sub(r"\\\n\s*", "", text).splitlines():
                    if match := _KEY_LINE.match(line):
                        name = (root + "\\" + match.group(1).replace("\\\\", "\\")).lower()
                        values = keys.setdefault(name, set())
                        # Wine saves only keys that hold values or have no subkeys; the keys
                        # between are listed too, so an empty key left behind shows up.
                        while (name := name.rsplit("\\", 1)[0]) not in keys:
                            keys[name] = set()
                    elif values is not None and line and not line.startswith("#time="):
                        values.add(line)
            keys = {k: v for k, v in keys.items() if not IGNORED_KEY.search(k)}
        files: dict[str, tuple] = {}
        for directory, dirs, file_names in os.walk(self.drive_c):
            for name in dirs + file_names:
                host = Path(directory) / name
                files[self.windows_path(host).lower()] = _file_state(host)
        return Snapshot(files=files, registry=keys)


def _file_state(path: Path) -> tuple:
    info = path.lstat()
    if stat.S_ISLNK(info.st_mode):
        return ("link", os.readlink(path))
    if stat.S_ISDIR(info.st_mode):
        return ("dir",)
    if info.st_nlink > 1:
        return ("file", info.st_size, info.st_ino, info.st_mtime_ns)
    with open(path, "rb") as file:
        return ("file", info.st_size, hashlib.file_digest(file, "sha1").hexdigest())


def _read_all(file, text: bool = True) -> str | bytes:
    with file:
        file.seek(0)
        data = file.read()
    return data.decode("utf-8", errors="replace") if text else data


def start_xvfb() -> tuple[subprocess.Popen, str]:
    """A private X server and its DISPLAY; Xvfb picks a free display number and says so once
    it is ready (-displayfd)."""
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
