"""A silent installation as an administrator sees it under Wine: the exit code, the files in
the install folder, the uninstall registration, the shortcuts, the setup log's lines in their
order, and after a failure the machine as it was before."""

from __future__ import annotations

import subprocess
from pathlib import Path

import pytest

from test_startup import EDITIONS, PACK_TOOL, log_lines, stub_program, setup_program, work_log
from winehost import win_build_path

SILENT = ["-silent", "-licenseaccept", "-norestart"]
# The child installer and the rollback's fixed waits make an install take seconds, not
# minutes.
INSTALL_TIMEOUT = 180

PRODUCT = {
    "workstation": {
        "code": "{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}",
        "child": "corvane-rdp-workstation-installer.exe",
        "main": "corvanews.exe",
        "uninstaller": "corvane-rdp-workstation-uninstaller.exe",
        # Shortcut names after the display name, ".lnk" left out; the web shortcut is a file
        # of its own.
        "shortcuts": ["", " Help", " License", " Uninstall Wizard", " Console Command Line",
                      " Command Line"],
        "extra_shortcut": "Install Cirtix support for Corvane RDP Edition - Workstation.lnk",
        "web": "Corvane RDP Edition - Workstation on Web.url",
    },
    "server": {
        "code": "{4B8D2E61-7F3A-4C95-B0D4-6E2A9C1F5B37}",
        "child": "corvane-rdp-server-installer.exe",
        "main": "corvanets.exe",
        "uninstaller": "corvane-rdp-server-uninstaller.exe",
        "shortcuts": ["", " Help", " License", " Uninstall Wizard", " Console Command Line",
                      " Command Line"],
        "extra_shortcut": None,
        "web": "Corvane RDP Edition - Server on Web.url",
    },
}
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
START_MENU = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\"

# What the stand-in child installer registers on the machine (payload/programs/
# child_installer.c): its own service, its driver's INF in the driver store with the driver's
# kernel service, the driver as an upper filter of the USB class, and the server's bus device.
CHILD_PARTS = {
    "workstation": {"service": "corvanewssrv", "driver": "hxvhub", "device": None},
    "server": {"service": "corvanetssrv", "driver": "hxvhubbus", "device": "ROOT\\HXVHUBBUS"},
}
SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"
USB_CLASS_KEY = ("HKLM\\System\\CurrentControlSet\\Control\\Class\\"
                 "{36FC9E60-C465-11CF-8056-444553540000}")
CITRIX_KEY = "HKLM\\Software\\Corvane RDP Citrix Support"


def product_registrations(prefix, edition: str) -> list[str]:
    """The child installer's registrations the machine holds."""
    parts = CHILD_PARTS[edition]
    found = [f"service {name}" for name in (parts["service"], parts["driver"])
             if prefix.reg_exists(SERVICES_KEY + name, view=64)]
    filters = prefix.reg_query(USB_CLASS_KEY, "UpperFilters", view=64)
    if filters is not None and parts["driver"] in [name.lower() for name in filters.data]:
        found.append(f"upper filter {parts['driver']}")
    catalog = f"CatalogFile={parts['driver']}.cat".encode()
    found += [f"INF {path.name}" for path in prefix.host_path("C:\\windows\\inf").iterdir()
              if path.suffix.lower() == ".inf" and catalog in path.read_bytes()]
    if parts["device"] and prefix.reg_exists(
            "HKLM\\System\\CurrentControlSet\\Enum\\" + parts["device"], view=64):
        found.append(f"device {parts['device']}")
    return found


def all_registrations(edition: str) -> list[str]:
    parts = CHILD_PARTS[edition]
    return ([f"service {parts['service']}", f"service {parts['driver']}",
             f"upper filter {parts['driver']}", f"INF {parts['driver']}.inf"]
            + ([f"device {parts['device']}"] if parts["device"] else []))

WIN64_7 = {"arch": "win64", "version": "win7"}
WIN32_7 = {"arch": "win32", "version": "win7"}
WIN32_XP = {"arch": "win32", "version": "winxp"}
WIN64_10 = {"arch": "win64", "version": "win10"}

# One row per edition and system: destination (relative to the install folder) -> package
# entry it must hold, the destinations that must not be there, and the server's copy of the
# system USB driver (placed for the child installer, then deleted).
SYSTEMS = [
    pytest.param("workstation", WIN64_7, {
        "amd64\\hxvhub.sys": "hxvhub.sys.amd64.v7",
        "hxvhub.cat": "hxvhub.cat.v7",
        "hxvhub.inf": "hxvhub.inf",
        "amd64\\hxvplug.sys": "hxvplug.sys.amd64",
        "hxvchan.dll": "hxvchan.dll.amd64",
        "hxvchan_x86_64.dll": "hxvchan.dll.x86",
        "hxvcitrix.dll": "hxvcitrix.dll.x86",
        "corvane-rdp-rde-installer.exe": "corvane-rdp-rde-installer.exe.x86",
        "corvane-rdp-workstation-installer.exe": "corvane-rdp-workstation-installer.exe.amd64",
    }, ["x86"], None, id="workstation-win64-7"),
    pytest.param("workstation", WIN32_7, {
        "x86\\hxvhub.sys": "hxvhub.sys.x86.v7",
        "hxvhub.inf": "hxvhub.inf",
        "hxvchan.dll": "hxvchan.dll.x86",
        "corvane-rdp-workstation-installer.exe": "corvane-rdp-workstation-installer.exe.x86",
    }, ["amd64", "hxvchan_x86_64.dll"], None, id="workstation-win32-7"),
    pytest.param("workstation", WIN32_XP, {
        "x86\\hxvhub.sys": "hxvhub.sys.x86.xp",
        "hxvhub.cat": "hxvhub.cat.xp",
        "x86\\hxvplug.sys": "hxvplug.sys.x86",
    }, ["amd64", "hxvchan_x86_64.dll"], None, id="workstation-winxp"),
    pytest.param("workstation", WIN64_10, {
        "amd64\\hxvhub.sys": "hxvhub.sys.amd64.v10",
        "hxvhub.cat": "hxvhub.cat.v10",
        "hxvhub.inf": "hxvhub.inf.v10",
        "amd64\\hxvplug.sys": "hxvplug.sys.amd64.v10",
        "hxvchan_x86_64.dll": "hxvchan.dll.x86",
        "hxvcitrix.dll": "hxvcitrix.dll.x86",
    }, ["x86"], None, id="workstation-win64-10"),
    pytest.param("server", WIN64_7, {
        "amd64\\hxvhubbus.sys": "hxvhubbus.sys.amd64",
        "hxvhubbus.inf": "hxvhubbus.inf",
        "corvanets.exe": "corvanets.exe.amd64",
    }, ["x86", "hxvchan.dll"], "usbd.sys.amd64.v7", id="server-win64-7"),
    pytest.param("server", WIN32_7, {
        "x86\\hxvhubbus.sys": "hxvhubbus.sys.x86",
        "corvane-rdp-server-installer.exe": "corvane-rdp-server-installer.exe.x86",
    }, ["amd64"], "usbd.sys.x86.v7", id="server-win32-7"),
    pytest.param("server", WIN32_XP, {
        "x86\\hxvhubbus.sys": "hxvhubbus.sys.x86",
        "hxvhubbus.cat": "hxvhubbus.cat",
    }, ["amd64"], "usbd.sys.x86.xp", id="server-winxp"),
    pytest.param("server", WIN64_10, {
        "amd64\\hxvhubbus.sys": "hxvhubbus.sys.amd64.v10",
        "hxvhubbus.cat": "hxvhubbus.cat.v10",
        "hxvhubbus.inf": "hxvhubbus.inf.v10",
    }, ["x86"], "usbd.sys.amd64", id="server-win64-10"),
]


def install_folder(edition: str) -> str:
    return "C:\\Program Files\\" + EDITIONS[edition]["display"]


def payload_entry(edition: str, name: str) -> bytes:
    return (win_build_path("payload") / edition / name).read_bytes()


def install_log(prefix, edition: str) -> list[str]:
    return log_lines(prefix.host_path(install_folder(edition)) / EDITIONS[edition]["log"])


def in_order(lines: list[str], expected: list[str]) -> list[str]:
    """The expected lines that are missing or out of order (each is looked for after the
    previous one)."""
    position = 0
    missing = []
    for line in expected:
        try:
            position = lines.index(line, position) + 1
        except ValueError:
            missing.append(line)
    return missing


def child_says(edition: str, text: str) -> str:
    return f"{PRODUCT[edition]['child']}: {text}"


@pytest.mark.parametrize("edition, wine_prefix, files, absent, usbd_entry", SYSTEMS,
                         indirect=["wine_prefix"])
def test_a_silent_install_puts_every_file_registration_and_shortcut_in_place(
        wine_prefix, edition, files, absent, usbd_entry):
    product = PRODUCT[edition]
    display = EDITIONS[edition]["display"]
    result = wine_prefix.run(setup_program(edition), SILENT, timeout=INSTALL_TIMEOUT)
    assert result.exit_code == 0, result

    folder = install_folder(edition)
    host_folder = wine_prefix.host_path(folder)
    for destination, entry in files.items():
        assert (host_folder / destination.replace("\\", "/")).read_bytes() == \
            payload_entry(edition, entry), destination
    for name in absent:
        assert not (host_folder / name).exists(), name
    # The copy of the system USB driver is there only while the child installer runs.
    assert not (host_folder / "usbd.sys").exists()

    # The log was moved into the install folder; none is left in the work folder.
    assert not work_log(wine_prefix, edition).exists()
    lines = install_log(wine_prefix, edition)
    arch = "amd64" if wine_prefix.is_64bit else "x86"
    expected = [
        EDITIONS[edition]["banner"],
        f"CreateDirectory: {folder}",
        f"CreateDirectory: {folder}\\{arch}",
        f"source file:{product['child']}.{arch}",
        f"Install File: {folder}\\{product['child']}",
    ]
    if usbd_entry:
        expected += [f"source file:{usbd_entry}", f"Install File: {folder}\\usbd.sys"]
    expected += [
        child_says(edition, "command line [ -std-pipe -log]"),
        child_says(edition, f"current folder [{folder}]"),
        child_says(edition, "standard handles: input none, output pipe, error file"),
        child_says(edition, "record 1,80,2,0"),
        child_says(edition, "finished, exit code 0"),
        "Waiting for notification thread!",
    ]
    if usbd_entry:
        expected.append(f"DeleteFile: {folder}\\usbd.sys")
    expected += [
        f"CreateDirectory: {START_MENU}{display}",
        f"CreateShortcuts: {START_MENU}{display}\\{display}.lnk",
    ]
    assert in_order(lines, expected) == [], "\n".join(lines)
    assert lines[1].startswith("Windows ") and lines[1].endswith(" x64" if arch == "amd64"
                                                                  else " x86")
    assert "Notification thread is finished!" in lines
    assert not any(line.startswith(("Warning", "Error")) for line in lines), "\n".join(lines)
    # What the child registered is journaled; after the commit it stays.
    parts = CHILD_PARTS[edition]
    records = {f"Record Service: {parts['service']}", f"Record Service: {parts['driver']}",
               f"Record ClassFilterDriver: {parts['driver']}"}
    assert records <= set(lines), "\n".join(lines)
    assert any(line.startswith("Record DriverStore INF: ") for line in lines), "\n".join(lines)
    assert product_registrations(wine_prefix, edition) == all_registrations(edition)

    # A successful silent install lets the service program through the firewall, last.
    service = {"workstation": "corvanewssrv.exe", "server": "corvanetssrv.exe"}[edition]
    firewall = lines.index("Create Firewall rules")
    assert firewall > lines.index(f"CreateShortcuts: {START_MENU}{display}\\{display}.lnk")
    assert lines[firewall + 1].lower() == f"authorized appication: c:\\windows\\system32\\{service}"
    assert lines[firewall + 2:] in (
        ["Firewall rules (TCP-IN) was created", "Firewall rules (TCP-OUT) was created"],
        ["Firewall rules was created"]), "\n".join(lines[firewall:])

    values = wine_prefix.reg_values(UNINSTALL_KEY + product["code"], view=32)
    assert {name: value.data for name, value in values.items()} == {
        "InstallLocation": folder,
        "UninstallString": f"{folder}\\{product['uninstaller']}",
        "StartMenuLocation": display,
        "DisplayName": display,
        "DisplayVersion": "3.12.0.3230",
        "Publisher": "Marrowfend LLC",
    }

    menu = wine_prefix.host_path(START_MENU + display)
    expected_links = {display + suffix + ".lnk" for suffix in product["shortcuts"]}
    expected_links.add(product["web"])
    if product["extra_shortcut"]:
        expected_links.add(product["extra_shortcut"])
    assert {p.name for p in menu.iterdir()} == expected_links


# What a failed installation may leave behind: the log in the work folder (kept so the
# user can send it), and the RunOnce key every run makes sure of.
ROLLBACK_NOISE = [
    r"\\temp\\corvane-rdp-(workstation|server)-setup\.log$",
    r"\\currentversion\\runonce$",
]


def assert_failed_and_rolled_back(prefix, edition, result, before, error_code, arg0):
    assert result.exit_code == -10, result
    after = prefix.snapshot()
    # Nothing left behind, not even work for a restart: no file of these runs is in use.
    diff = after.diff(before, ignore=ROLLBACK_NOISE)
    assert not diff, str(diff)
    lines = log_lines(work_log(prefix, edition))
    assert "Warning: === Reboot required to complete operation ===" not in lines, \
        "\n".join(lines)
    # The firewall is opened only for a product that was installed.
    assert "Create Firewall rules" not in lines
    message = ("Error during installation.\nError code = 0x%.8x\nError arg0 = 0x%.8x"
               % (error_code, arg0)) if error_code is not None else None
    rollback = lines.index("=== Rollback process ===")
    if message:
        assert lines[rollback - 1] == message, "\n".join(lines)
    else:
        assert lines[rollback - 1].startswith("Error during installation.\nError code = 0x")
        assert lines[rollback - 1].endswith("Error arg0 = 0x%.8x" % arg0), lines[rollback - 1]
    return lines, rollback


# Without -norestart, as a silent server installation is usually run: a failure must not
# restart the machine, nor leave anything for a restart to do.
@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_a_child_error_fails_the_install_and_leaves_the_machine_as_it_was(wine_prefix,
                                                                         edition):
    before = wine_prefix.snapshot()
    result = wine_prefix.run(setup_program(edition), ["-silent", "-licenseaccept"],
                             env={"CORVANE_CHILD_MODE": "error",
                                  "CORVANE_CHILD_ERROR": "0x5,0x21,0x1000"},
                             timeout=INSTALL_TIMEOUT)
    lines, rollback = assert_failed_and_rolled_back(wine_prefix, edition, result, before,
                                                    0x5, 0x10000021)
    folder = install_folder(edition)
    assert "Internal error: (0x5)" in lines[:rollback]
    assert "Restart System" not in lines
    # The child had published its INF and added its filter before it failed: both were
    # journaled and are taken away first.
    driver = CHILD_PARTS[edition]["driver"]
    assert f"Record ClassFilterDriver: {driver}" in lines[:rollback], "\n".join(lines)
    store_inf = next(line for line in lines[:rollback]
                     if line.startswith("Record DriverStore INF: "))[len("Record DriverStore INF: "):]
    assert in_order(lines[rollback:], [f"Install FromInf: {store_inf}", "Section: DefaultUninstall",
                                       f"Remove From DriverStore: {store_inf}",
                                       f"Uninstall ClassFilterDriver: {driver}"]) == []
    # The rollback walks the journal: the files the copy made, then the folders it made.
    after = lines[rollback:]
    assert f"RemoveInstallFiles: {folder}\\{PRODUCT[edition]['main']}" in after, "\n".join(after)
    # The child's first catalogue made the store's catalogue folder; it goes too.
    assert {line for line in after if line.startswith("DeleteDirectory: ")
            and "\\catroot\\" not in line.lower()} == {
        f"DeleteDirectory: {folder}", f"DeleteDirectory: {folder}\\amd64"}
    if edition == "server":
        # The server's usbd.sys copy went right after the child ended, before the rollback.
        assert f"DeleteFile: {folder}\\usbd.sys" in lines[:rollback]


def test_a_failed_install_over_an_earlier_one_puts_its_files_back(wine_prefix):
    # An earlier installation's folder with a file the payload overwrites and one it does
    # not know: after the failure both are as they were, and the folder stays.
    folder = install_folder("workstation")
    wine_prefix.write_file(folder + "\\readme.txt", b"the earlier readme\r\n")
    wine_prefix.write_file(folder + "\\settings.ini", b"[user]\r\nkept=1\r\n")
    before = wine_prefix.snapshot()
    result = wine_prefix.run(setup_program(), SILENT, env={"CORVANE_CHILD_MODE": "error"},
                             timeout=INSTALL_TIMEOUT)
    lines, rollback = assert_failed_and_rolled_back(wine_prefix, "workstation", result, before,
                                                    0x5, 0x20000021)
    assert wine_prefix.read_file(folder + "\\readme.txt") == b"the earlier readme\r\n"
    assert f"RollBackInstallFiles: {folder}\\readme.txt" in lines[rollback:]


# A reinstall over a working installation that fails after the child installer and the
# Citrix support ran: the earlier installation keeps its files, services, filter, INF,
# Citrix registration and uninstall registration, exactly as they were.
def test_a_failed_reinstall_leaves_the_earlier_installation_working_and_registered(wine_prefix):
    display = EDITIONS["workstation"]["display"]
    first = wine_prefix.run(setup_program(), SILENT, timeout=INSTALL_TIMEOUT)
    assert first.exit_code == 0, first
    # The reinstall's main shortcut cannot be saved: a folder has taken its name.
    main_link = wine_prefix.host_path(f"{START_MENU}{display}\\{display}.lnk")
    main_link.unlink()
    main_link.mkdir()
    before = wine_prefix.snapshot()

    result = wine_prefix.run(setup_program(), SILENT, timeout=INSTALL_TIMEOUT)

    lines, rollback = assert_failed_and_rolled_back(wine_prefix, "workstation", result, before,
                                                    None, 0x00130459)
    assert any(line.endswith(" RegisterCitrixDllEx") for line in lines[:rollback])
    # Registered before this run: not this run's to take away.
    assert not any(line.endswith(" UnregisterCitrixDllEx") for line in lines), "\n".join(lines)
    assert wine_prefix.reg_query(CITRIX_KEY, "ClientLibrary", view=32).data == \
        install_folder("workstation") + "\\hxvcitrix.dll"
    assert product_registrations(wine_prefix, "workstation") == all_registrations("workstation")
    assert wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)


def test_a_child_error_with_code_0_is_no_failure(wine_prefix):
    result = wine_prefix.run(setup_program(), SILENT, env={"CORVANE_CHILD_MODE": "error-code-0"},
                             timeout=INSTALL_TIMEOUT)
    assert result.exit_code == 0, result
    lines = install_log(wine_prefix, "workstation")
    assert "Internal error: (0x0)" in lines
    assert wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)


@pytest.mark.parametrize("arguments, mode, command_line", [
    # A child that reports nothing has succeeded.
    (SILENT, "no-report", "[ -std-pipe -log]"),
    (SILENT + ["-setupapi-log"], None, "[ -std-pipe -setupapi-log]"),
])
def test_the_child_gets_its_options_and_needs_not_report(wine_prefix, arguments, mode,
                                                        command_line):
    env = {"CORVANE_CHILD_MODE": mode} if mode else None
    result = wine_prefix.run(setup_program(), arguments, env=env, timeout=INSTALL_TIMEOUT)
    assert result.exit_code == 0, result
    lines = install_log(wine_prefix, "workstation")
    assert child_says("workstation", "command line " + command_line) in lines


def test_a_restart_request_with_norestart_ends_with_minus_9(wine_prefix):
    result = wine_prefix.run(setup_program(), SILENT, env={"CORVANE_CHILD_MODE": "restart"},
                             timeout=INSTALL_TIMEOUT)
    assert result.exit_code == -9, result
    # The installation itself succeeded: its files and its log are in the install folder.
    lines = install_log(wine_prefix, "workstation")
    assert child_says("workstation", "record 1,45,1,1") in lines
    assert "Restart System" not in lines
    assert wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)


def test_a_restart_request_without_norestart_restarts_at_once(wine_prefix):
    # Wine's ExitWindowsEx reports success and restarts nothing; the run ends normally.
    result = wine_prefix.run(setup_program(), ["-silent", "-licenseaccept"],
                             env={"CORVANE_CHILD_MODE": "restart"}, timeout=INSTALL_TIMEOUT)
    assert result.exit_code == 0, result
    assert install_log(wine_prefix, "workstation")[-1] == "Restart System"


def repacked_setup(tmp_path: Path, edition: str, missing: str | None = None,
                   replaced: dict[str, bytes] | None = None) -> Path:
    """The edition's setup program with its sample payload changed: one entry left out,
    others given other contents."""
    payload = tmp_path / "payload"
    payload.mkdir()
    for entry in (win_build_path("payload") / edition).iterdir():
        if entry.name != missing:
            data = (replaced or {}).get(entry.name, entry.read_bytes())
            (payload / entry.name).write_bytes(data)
    program = tmp_path / f"corvane-rdp-{edition}-setup.exe"
    subprocess.run([str(PACK_TOOL), "create", "--stub", str(stub_program(edition)), "-o",
                    str(program), "--dir", str(payload)], check=True, capture_output=True)
    return program


@pytest.mark.parametrize("edition, missing", [
    # There is no fallback to another variant: the ".xp" and ".v10" ones are there.
    ("workstation", "hxvhub.sys.amd64.v7"),
    ("server", "corvanetssrv.exe.amd64"),
])
def test_a_missing_package_entry_fails_with_location_798_and_rolls_back(wine_prefix, tmp_path,
                                                                        edition, missing):
    program = repacked_setup(tmp_path, edition, missing=missing)
    before = wine_prefix.snapshot()
    result = wine_prefix.run(program, SILENT, timeout=INSTALL_TIMEOUT)
    lines, rollback = assert_failed_and_rolled_back(wine_prefix, edition, result, before, None,
                                                    0x1000031E)
    assert lines[rollback - 2] == f"source file:{missing}", "\n".join(lines)
    # The child never ran.
    assert not any(PRODUCT[edition]["child"] + ":" in line for line in lines)


@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_a_child_installer_that_cannot_start_fails_with_location_1294(wine_prefix, tmp_path,
                                                                     edition):
    child = PRODUCT[edition]["child"] + ".amd64"
    program = repacked_setup(tmp_path, edition, replaced={child: b"not a program\r\n"})
    before = wine_prefix.snapshot()
    result = wine_prefix.run(program, SILENT, timeout=INSTALL_TIMEOUT)
    lines, rollback = assert_failed_and_rolled_back(wine_prefix, edition, result, before, None,
                                                    0x1000050E)
    folder = install_folder(edition)
    if edition == "server":
        # The usbd.sys copy goes even though the child never ran.
        assert f"DeleteFile: {folder}\\usbd.sys" in lines[:rollback]
