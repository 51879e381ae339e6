#!/usr/bin/env python3
"""program-wizard-test.py <build folder> <scratch folder> <key folder> <mui_client.py>

The wizard's pages in the whole program, through its automation socket:
the initial page's links (opened by the desktop's opener) and language
list, the error page with "Try again", and the pages dropped inside their
own callbacks: "Cancel" clicked on the download page while its download
runs, and while the package's own box about a file without an install
command runs its modal loop inside the package's callback.  The program is
the sanitized build in CI, so a page or package touched after it was freed
ends it with a report and a non-zero status.
"""

import contextlib
import http.server
import os
import socket
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import program_fixture as pf  # noqa: E402

pf.enter_private_namespace()
BUILD, SCRATCH, KEY_DIR, CLIENT = sys.argv[1:5]
del sys.argv[1:5]
mui_client = pf.load_mui_client(CLIENT)

LANGUAGES = ["0:Deutsch", "1:Español", "2:Français", "3:English", "4:Português"]
INSTALL_LABELS = ["Akzeptieren und installieren", "Aceptar e instalar", "Accepter et installer", "Accept and Install",
                  "Aceitar e instalar"]


@contextlib.contextmanager
def package_server(body=b"not really a package\n"):
    """An HTTP server on loopback answering every GET with the body."""

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "http://127.0.0.1:%d/yarl.pkg" % server.server_address[1]
    finally:
        server.shutdown()
        server.server_close()


@contextlib.contextmanager
def silent_server():
    """A server on loopback that takes the request and never answers."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    try:
        yield "http://127.0.0.1:%d/yarl.pkg" % server.getsockname()[1]
    finally:
        server.close()


def shown(lines):
    return lines[:1] == ["shown 1"]


class WizardTest(unittest.TestCase):
    def start(self, *args, with_key=True):
        setup = pf.Setup(BUILD, SCRATCH, KEY_DIR, mui_client, with_key)
        self.addCleanup(setup.close)
        wizard = setup.start(*args, name="wizard")
        ui = wizard.ui()
        ui.wait_for("state SetupDlg.initial", shown)
        return setup, wizard, ui

    def finish(self, wizard, ui):
        """Closes the dialog: the program ends with 0 and no sanitizer
        report."""
        self.assertEqual(ui.command("close SetupDlg"), ["1"])
        self.assertEqual(wizard.wait(), 0, wizard.stderr())
        self.assertNotIn("Sanitizer", wizard.stderr())

    def test_the_initial_page_and_its_links(self):
        setup, wizard, ui = self.start()
        self.assertEqual(ui.command("lists SetupDlg"), [
            "initial (layout)", "initial.setupImg (image)", "initial.eula (text)", "initial.install (button)",
            "initial.langs (choice)"
        ])
        self.assertIn("value setupImg", ui.command("state SetupDlg.initial.setupImg"))
        self.assertEqual(ui.command("checklayout SetupDlg"), [])
        eula = ui.command("state SetupDlg.initial.eula")
        self.assertEqual(eula[-2:], ["0 https://www.example.com/legal/#eulas", "1 https://www.example.com/legal/#privacy"])
        # A link opens with the desktop's opener.
        for index in (0, 1):
            self.assertEqual(ui.command("click SetupDlg.initial.eula %d" % index), ["1"])
        self.assertEqual(ui.command("click SetupDlg.initial.eula 2"), ["0"])
        pf.wait_until(lambda: len(setup.opened_urls()) == 2, what="the opener")
        self.assertEqual(setup.opened_urls(),
                         ["https://www.example.com/legal/#eulas", "https://www.example.com/legal/#privacy"])
        self.finish(wizard, ui)

    def test_the_wizard_maps_neither_pac_library(self):
        # The PAC engine and its download library are opened by the
        # resolver child when it evaluates a script; the wizard never maps
        # them, nor what the download library brings in.
        setup, wizard, ui = self.start()
        with open("/proc/%d/maps" % wizard.pid) as maps:
            mapped = {os.path.basename(line.split()[-1]) for line in maps if "/" in line}
        self.assertIn("libc.so.6", mapped)
        pac = ("libduktape", "libcurl", "libssl", "libgnutls")
        self.assertEqual(sorted(m for m in mapped if m.startswith(pac)), [])
        self.finish(wizard, ui)

    def test_each_language_changes_the_texts_at_once(self):
        setup, wizard, ui = self.start()
        self.assertEqual(ui.command("listitems SetupDlg.initial.langs"), LANGUAGES)
        # The locale here is English.
        self.assertIn("value 3", ui.command("state SetupDlg.initial.langs"))
        for index, label in enumerate(INSTALL_LABELS):
            self.assertEqual(ui.command("select SetupDlg.initial.langs %d" % index), ["1"])
            self.assertIn("label " + label, ui.command("state SetupDlg.initial.install"))
        self.assertEqual(ui.command("select SetupDlg.initial.langs 0"), ["1"])
        self.assertIn("Endbenutzer-Lizenzvereinbarung", "\n".join(ui.command("state SetupDlg.initial.eula")))
        # Pages built later speak the chosen language.
        self.assertEqual(ui.command("click SetupDlg.initial.install"), ["1"])
        ui.wait_for("state SetupDlg.error", shown)
        self.assertIn("Installation fehlgeschlagen", "\n".join(ui.command("state SetupDlg.error.text1")))
        self.finish(wizard, ui)

    def test_a_failed_download_shows_the_error_page_and_try_again_goes_back(self):
        setup, wizard, ui = self.start()
        self.assertEqual(ui.command("click SetupDlg.initial.install"), ["1"])
        ui.wait_for("state SetupDlg.error", shown)
        detail = "\n".join(ui.command("state SetupDlg.error.detail"))
        self.assertIn("getaddrinfo", detail)
        self.assertIn("shown 0", ui.command("state SetupDlg.error.cmdOutBtn"))
        self.assertIn("shown 0", ui.command("state SetupDlg.initial"))
        # Earlier runs' work folders go with "Try again".
        installer = os.path.join(pf.CHANNELS, "installer")
        os.makedirs(os.path.join(installer, "0123456789abcdef"), exist_ok=True)
        self.assertEqual(ui.command("click SetupDlg.error.retry"), ["1"])
        ui.wait_for("state SetupDlg.initial", shown)
        self.assertFalse(os.path.exists(installer))
        # And again: a new package, a new error page.
        self.assertEqual(ui.command("click SetupDlg.initial.install"), ["1"])
        ui.wait_for("state SetupDlg.error", shown)
        self.assertEqual([line for line in ui.command("lists SetupDlg") if line.startswith("error ")],
                         ["error (layout)"])
        self.finish(wizard, ui)

    def test_cancel_inside_its_own_click_while_the_download_runs(self):
        with silent_server() as uri:
            setup, wizard, ui = self.start("_SvrUri=" + uri)
            self.assertEqual(ui.command("click SetupDlg.initial.install"), ["1"])
            ui.wait_for("state SetupDlg.download", shown)
            wizard.wait_for_log("Downloading Yarl Server from " + uri)
            self.assertEqual(ui.command("click SetupDlg.download.cancel"), ["1"])
            ui.wait_for("state SetupDlg.error", shown)
            self.assertIn("Download cancelled", "\n".join(ui.command("state SetupDlg.error.detail")))
            # The dropped page goes once its click has returned.
            ui.wait_for("lists SetupDlg", lambda lines: "download (layout)" not in lines)
            self.finish(wizard, ui)

    def test_cancel_while_the_packages_own_box_runs_inside_its_callback(self):
        with package_server() as uri:
            setup, wizard, ui = self.start("_SvrUri=" + uri)
            boxes = wizard.ui()
            self.assertEqual(ui.command("click SetupDlg.initial.install"), ["1"])
            # The file has no install command: the package's box is up, its
            # modal loop running inside the download's callback.
            boxes.wait_for("dialogs", lambda lines: any(line.endswith(" messagebox") for line in lines))
            self.assertEqual(boxes.command("click SetupDlg.download.cancel"), ["1"])
            ui.wait_for("state SetupDlg.error", shown)
            self.assertIn("Download cancelled", "\n".join(ui.command("state SetupDlg.error.detail")))
            # The dropped page and package wait for the box.
            self.assertIn("download (layout)", ui.command("lists SetupDlg"))
            self.assertEqual(boxes.command("click messagebox.main.buttons.ok"), ["1"])
            boxes.wait_for("lists SetupDlg", lambda lines: "download (layout)" not in lines)
            wizard.wait_for_log("Error getting file")
            self.assertIn("Download cancelled", "\n".join(ui.command("state SetupDlg.error.detail")))
            self.finish(wizard, ui)


if __name__ == "__main__":
    unittest.main()
