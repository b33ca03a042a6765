"""A silent installation as an administrator sees it under Wine: the exit code, the files in
the install folder, the uninstall registration, the shortcuts, the setup log's lines in their
order, and after a failure the machine as it was before."""

from __future__ import annotations

import pytest

from test_startup import EDITIONS, log_lines, setup_program, work_log
from winehost import win_build_path

SILENT = ["-silent", "-licenseaccept", "-norestart"]
INSTALL_TIMEOUT = 180

PRODUCT = {
    edition: {"code": code, "child": f"corvane-rdp-{edition}-installer.exe", "main": main,
              "uninstaller": f"corvane-rdp-{edition}-uninstaller.exe",
              "web": f"Corvane RDP Edition - {edition.title()} on Web.url", "extra_shortcut": extra}
    for edition, code, main, extra in (
        ("workstation", "{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}", "corvanews.exe",
         "Install Cirtix support for Corvane RDP Edition - Workstation.lnk"),
        ("server", "{4B8D2E61-7F3A-4C95-B0D4-6E2A9C1F5B37}", "corvanets.exe", None))
}
# Shortcut names after the display name, ".lnk" left out; the web shortcut is a file of its own.
SHORTCUTS = ["", " Help", " License", " Uninstall Wizard", " Console Command Line",
             " Command Line"]
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


# An edition on a system: destinations (relative to the install folder) with the package
# entry each must hold, destinations that must not be there, and the server's copy of the
# system USB driver (placed for the child installer, then deleted). The payload plan of every
# system is tested natively; these show the engine detects the system and acts on the plan.
SYSTEMS = [
    pytest.param("workstation", {"arch": "win64", "version": "win7"}, {
        "amd64\\hxvhub.sys": "hxvhub.sys.amd64.v7", "hxvchan_x86_64.dll": "hxvchan.dll.x86",
        "corvane-rdp-workstation-installer.exe": "corvane-rdp-workstation-installer.exe.amd64",
    }, ["x86"], None, id="workstation-win64-7"),
    pytest.param("workstation", {"arch": "win32", "version": "winxp"}, {
        "x86\\hxvhub.sys": "hxvhub.sys.x86.xp", "hxvhub.cat": "hxvhub.cat.xp",
    }, ["amd64", "hxvchan_x86_64.dll"], None, id="workstation-winxp"),
    pytest.param("server", {"arch": "win32", "version": "win7"}, {
        "x86\\hxvhubbus.sys": "hxvhubbus.sys.x86",
        "corvane-rdp-server-installer.exe": "corvane-rdp-server-installer.exe.x86",
    }, ["amd64"], "usbd.sys.x86.v7", id="server-win32-7"),
    pytest.param("server", {"arch": "win64", "version": "win10"}, {
        "amd64\\hxvhubbus.sys": "hxvhubbus.sys.amd64.v10", "hxvhubbus.inf": "hxvhubbus.inf.v10",
    }, ["x86"], "usbd.sys.amd64", id="server-win64-10"),
]


def install_folder(edition: str) -> str:
    return "C:\\Program Files\\" + EDITIONS[edition]["display"]


def payload_entry(edition: str, name: str) -> bytes:
    return (win_build_path("payload") / edition / name).read_bytes()


def install_log(prefix, edition: str) -> list[str]:
    return log_lines(prefix.host_path(install_folder(edition)) / EDITIONS[edition]["log"])


def in_order(lines: list[str], expected: list[str]) -> list[str]:
    """The expected lines from the first that is missing or out of order on (each is looked
    for after the previous one)."""
    rest = iter(lines)
    return [line for line in expected if line not in rest]


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
    assert "Terminate notification thread!" not in lines
    assert not any(line.startswith(("Warning", "Error")) for line in lines), "\n".join(lines)
    # What the child registered is journaled; after the commit it stays.
    parts = CHILD_PARTS[edition]
    records = {f"Record Service: {parts['service']}", f"Record Service: {parts['driver']}",
               f"Record ClassFilterDriver: {parts['driver']}"}
    assert records <= set(lines), "\n".join(lines)
    assert any(line.startswith("Record DriverStore INF: ") for line in lines), "\n".join(lines)
    # What the machine holds of the child installer's registrations.
    found = [f"service {name}" for name in (parts["service"], parts["driver"])
             if wine_prefix.reg_exists(SERVICES_KEY + name, view=64)]
    filters = wine_prefix.reg_query(USB_CLASS_KEY, "UpperFilters", view=64)
    if filters is not None and parts["driver"] in [name.lower() for name in filters.data]:
        found.append(f"upper filter {parts['driver']}")
    catalog = f"CatalogFile={parts['driver']}.cat".encode()
    found += [f"INF {path.name}" for path in wine_prefix.host_path("C:\\windows\\inf").iterdir()
              if path.suffix.lower() == ".inf" and catalog in path.read_bytes()]
    if parts["device"] and wine_prefix.reg_exists(
            "HKLM\\System\\CurrentControlSet\\Enum\\" + parts["device"], view=64):
        found.append(f"device {parts['device']}")
    assert found == [f"service {parts['service']}", f"service {parts['driver']}",
                     f"upper filter {parts['driver']}", f"INF {parts['driver']}.inf",
                     *([f"device {parts['device']}"] if parts["device"] else [])]

    # A successful silent install lets the service program through the firewall, last.
    service = parts["service"] + ".exe"
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
    expected_links = {display + suffix + ".lnk" for suffix in SHORTCUTS}
    expected_links |= {product["web"], product["extra_shortcut"]} - {None}
    assert {p.name for p in menu.iterdir()} == expected_links


# What a failed installation may leave behind: the log in the work folder (kept so the
# user can send it), and the RunOnce key every run makes sure of.
ROLLBACK_NOISE = [
    r"\\temp\\corvane-rdp-(workstation|server)-setup\.log$",
    r"\\currentversion\\runonce$",
]


def assert_failed_and_rolled_back(prefix, edition, result, before, error_code, arg0):
    assert result.exit_code == -10, result
    # Nothing left behind, not even work for a restart: no file of these runs is in use.
    assert not (diff := prefix.snapshot().diff(before, ignore=ROLLBACK_NOISE)), diff
    lines = log_lines(work_log(prefix, edition))
    assert "Warning: === Reboot required to complete operation ===" not in lines, \
        "\n".join(lines)
    # The firewall is opened only for a product that was installed.
    assert "Create Firewall rules" not in lines
    rollback = lines.index("=== Rollback process ===")
    message = lines[rollback - 1]
    assert message.startswith("Error during installation.\nError code = 0x%s" % (
        "" if error_code is None else "%.8x" % error_code)), "\n".join(lines)
    assert message.endswith("Error arg0 = 0x%.8x" % arg0), message
    return lines, rollback


# Without -norestart, as a silent server installation is usually run: a failure must not
# restart the machine, nor leave anything for a restart to do. The install folder was there
# before and stays: the server's empty, the workstation's with a file the payload overwrites
# and one it does not know, both as they were afterwards.
@pytest.mark.parametrize("edition", ["workstation", "server"])
def test_a_child_error_fails_the_install_and_leaves_the_machine_as_it_was(wine_prefix,
                                                                         edition):
    folder = install_folder(edition)
    earlier = edition == "workstation"
    if earlier:
        wine_prefix.write_file(folder + "\\readme.txt", b"the earlier readme\r\n")
        wine_prefix.write_file(folder + "\\settings.ini", b"[user]\r\nkept=1\r\n")
    else:
        wine_prefix.host_path(folder).mkdir()
    before = wine_prefix.snapshot()
    result = wine_prefix.run(setup_program(edition), ["-silent", "-licenseaccept"],
                             env={"CORVANE_CHILD_MODE": "error",
                                  "CORVANE_CHILD_ERROR": "0x5,0x21,0x1000"},
                             timeout=INSTALL_TIMEOUT)
    lines, rollback = assert_failed_and_rolled_back(wine_prefix, edition, result, before,
                                                    0x5, 0x10000021)
    assert "Internal error: (0x5)" in lines[:rollback]
    assert "Restart System" not in lines
    # The child had published its INF and added its filter before it failed: both were
    # journaled and are taken away first.
    driver = CHILD_PARTS[edition]["driver"]
    assert f"Record ClassFilterDriver: {driver}" in lines[:rollback], "\n".join(lines)
    store_inf = next(line for line in lines[:rollback]
                     if line.startswith("Record DriverStore INF: ")).split(": ", 1)[1]
    assert in_order(lines[rollback:], [f"Install FromInf: {store_inf}",
                                       "Section: DefaultUninstall",
                                       f"Remove From DriverStore: {store_inf}",
                                       f"Uninstall ClassFilterDriver: {driver}"]) == []
    # The rollback walks the journal: the files the copy made, then the folders it made (the
    # child's first catalogue made the store's catalogue folder; it goes too).
    after = lines[rollback:]
    assert f"RemoveInstallFiles: {folder}\\{PRODUCT[edition]['main']}" in after, "\n".join(after)
    assert {line for line in after if line.startswith("DeleteDirectory: ")
            and "\\catroot\\" not in line.lower()} == {f"DeleteDirectory: {folder}\\amd64"}
    if earlier:
        assert wine_prefix.read_file(folder + "\\readme.txt") == b"the earlier readme\r\n"
        assert f"RollBackInstallFiles: {folder}\\readme.txt" in after
    else:
        # The server's usbd.sys copy went right after the child ended, before the rollback.
        assert f"DeleteFile: {folder}\\usbd.sys" in lines[:rollback]


# A reinstall over a working installation that fails after the child installer and the
# Citrix support ran: the earlier installation keeps its files, services, filter, INF,
# Citrix registration and uninstall registration, exactly as they were (the whole machine is
# compared with the one before the reinstall).
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


# A child that reports nothing, or an error with code 0, has succeeded; each child gets the
# options it was asked for. A restart it asks for ends a run with -norestart with -9, and
# without it restarts at once (Wine's ExitWindowsEx restarts nothing; the run ends normally).
# With a folder of the log's name in the install folder the log cannot be copied there: the
# work folder's stays, the only record of the run.
@pytest.mark.parametrize("mode, arguments, exit_code, logged", [
    ("no-report", SILENT, 0, "command line [ -std-pipe -log]"),
    ("error-code-0", SILENT + ["-setupapi-log"], 0, "command line [ -std-pipe -setupapi-log]"),
    ("restart", SILENT, -9, "record 1,45,1,1"),
    ("restart", ["-silent", "-licenseaccept"], 0, "record 1,45,1,1"),
], ids=["no-report", "error-code-0", "restart-norestart", "restart"])
def test_the_child_installers_answer_decides_the_end(wine_prefix, mode, arguments, exit_code,
                                                     logged):
    kept_log = mode == "no-report"
    if kept_log:
        wine_prefix.host_path(install_folder("workstation")).joinpath(
            EDITIONS["workstation"]["log"]).mkdir(parents=True)
    result = wine_prefix.run(setup_program(), arguments, env={"CORVANE_CHILD_MODE": mode},
                             timeout=INSTALL_TIMEOUT)
    assert result.exit_code == exit_code, result
    lines = log_lines(work_log(wine_prefix)) if kept_log else install_log(wine_prefix,
                                                                           "workstation")
    assert child_says("workstation", logged) in lines
    assert ("Internal error: (0x0)" in lines) == (mode == "error-code-0")
    assert ("Restart System" in lines) == (mode == "restart" and exit_code == 0)
    assert wine_prefix.reg_exists(UNINSTALL_KEY + PRODUCT["workstation"]["code"], view=32)
