#!/usr/bin/python3
"""The live web page of `it433td emulate --web` in a real browser.

Headless Chromium driven by Selenium opens the page, a receipt is printed
through the real module onto the emulator's pseudo-terminal, and its picture
and decoded QR code must appear without a reload; the page's "Paper out"
button must change what `it433td status` reads from the port and stay
pressed; a page from another origin must not be able to change the state.
On a 390 px screen the page must not scroll sideways, a receipt with a
warning shows its count and lines (a clean one none), and once the emulator
stops the page says "not connected" with its state buttons disabled.

  test_web_page.py IT433TD MODULE
With IT433TD_SCREENSHOT=FILE set, the page is saved there as a PNG (the
picture in the README is made this way).
"""
import http.server
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PAYMENT = ("00020126480014br.gov.bcb.pix0126pix@padaria.exemplo.com.br520400005303986540559.67"
           "5802BR5919PADARIA PAO DOURADO6009SAO PAULO62170513PEDIDO000123463043CE8")
RECEIPT = f"""# printed by the browser test
                      PADARIA PÃO DOURADO
----------------------------------------------------------------
1    Pão francês (kg)            0,750       14,90         11,18
2    Café coado                      2        6,50         13,00
TOTAL                                                   R$ 24,18
code128 PEDIDO-0001234
qr {PAYMENT}
cut
"""


class Emulator:
    """`it433td emulate` in the background, its output read line by line."""

    def __init__(self, args):
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        self.lines = []
        self.url = None
        for line in self.process.stdout:
            self.lines.append(line)
            found = re.search(r"web page: (\S+)", line)
            if found:
                self.url = found.group(1)
            if line.startswith("ready"):
                break
        assert self.url, "emulate printed no web page address:\n" + "".join(self.lines)
        threading.Thread(target=self._follow, daemon=True).start()

    def _follow(self):
        for line in self.process.stdout:
            self.lines.append(line)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        return self.process.wait(timeout=30)


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--window-size=1200,1000", "--user-data-dir=" + profile):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def forging_page(target):
    """A page of another origin that tries to set the printer online."""
    return f"""<!doctype html><title>forging</title>
<form id="form" method="POST" action="{target}state" enctype="text/plain">
<input name="online" value=""></form>
<script>
const tries = [
  fetch("{target}state", {{method: "POST", mode: "no-cors", body: "online"}}),
  fetch("{target}state", {{method: "POST", body: "online",
                            headers: {{"X-IT433TD-Token": "guessed"}}}}),
];
Promise.allSettled(tries).then(() => {{
  document.title = "forged";
  setTimeout(() => document.getElementById("form").submit(), 100);
}});
</script>"""


def serve_once(html):
    """Serves `html` on a port of its own: another origin than the printer's."""
    class Page(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = html.encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main(tool, module):
    work = tempfile.mkdtemp(prefix="it433td-web-")
    driver = emulator = None
    try:
        # A copy of it433td of our own: the module renders QR codes into
        # the Dados folder beside it.
        os.makedirs(os.path.join(work, "bin"))
        own_tool = shutil.copy(tool, os.path.join(work, "bin", "it433td"))
        ports = os.path.join(work, "ports")
        environment = dict(os.environ, IT433TD_PORTS=ports)
        emulator = Emulator([own_tool, "emulate", "--port", "WEB1", "--out",
                             os.path.join(work, "out"), "--ports-dir", ports,
                             "--web", "127.0.0.1:0"])

        def status():
            return subprocess.run([own_tool, "--module", module, "status", "--port", "WEB1"],
                                  env=environment, capture_output=True, text=True, timeout=60)

        driver = browser(os.path.join(work, "profile"))
        wait = WebDriverWait(driver, 30)
        driver.get(emulator.url)
        wait.until(lambda d: d.find_element(By.ID, "state").get_attribute("data-state") == "online")
        driver.execute_script("window.sameLoad = 'yes';")

        # A receipt through the real module, onto the emulator's port.
        receipt = os.path.join(work, "receipt.txt")
        with open(receipt, "w", encoding="utf-8") as file:
            file.write(RECEIPT)
        printed = subprocess.run([own_tool, "--module", module, "print", "--port", "WEB1", receipt],
                                 env=environment, capture_output=True, text=True, timeout=60)
        assert printed.returncode == 0, printed.stdout + printed.stderr

        def receipt_shown(d):
            pictures = d.find_elements(By.CSS_SELECTOR, "article.receipt img.picture")
            codes = [c.text for c in d.find_elements(By.CSS_SELECTOR, "article.receipt li.code")]
            loaded = pictures and d.execute_script(
                "return arguments[0].complete && arguments[0].naturalWidth", pictures[0]) == 576
            return loaded and "QR: " + PAYMENT in codes and "CODE128: PEDIDO-0001234" in codes
        wait.until(receipt_shown)
        assert driver.execute_script("return window.sameLoad") == "yes", "the page was reloaded"
        assert "PADARIA PÃO DOURADO" in driver.find_element(By.CSS_SELECTOR, "pre.transcript").text
        shot = os.environ.get("IT433TD_SCREENSHOT")
        if shot:
            driver.save_screenshot(shot)

        # The button changes what the port answers.
        driver.find_element(By.ID, "set-paper-out").click()
        wait.until(lambda d: d.find_element(By.ID, "state").get_attribute("data-state") == "paper-out")
        pressed = [b.get_attribute("id") for b in driver.find_elements(By.CSS_SELECTOR, "button[aria-pressed=true]")]
        assert pressed == ["set-paper-out"], pressed
        asked = status()
        assert asked.returncode == 1 and "WEB1: out of paper" in asked.stdout, asked.stdout + asked.stderr

        # Another origin's page cannot set it back.
        forger = serve_once(forging_page(emulator.url))
        driver.get(f"http://127.0.0.1:{forger.server_address[1]}/")
        wait.until(lambda d: d.current_url.startswith(emulator.url))  # the form went out too
        forger.shutdown()
        asked = status()
        assert asked.returncode == 1 and "WEB1: out of paper" in asked.stdout, asked.stdout + asked.stderr
        assert not any(line.startswith("printer online") for line in emulator.lines), "".join(emulator.lines)

        # A phone's screen; a receipt with UTF-8 text sent raw to the port.
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True})
        driver.get(emulator.url)
        with open(os.path.join(ports, "WEB1"), "wb") as port:
            port.write("Olá\n\x1bw".encode())
        badge = wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#receipt-0002 .badge"))[0]
        assert badge.text == "1 warning", badge.text
        warning = driver.find_element(By.CSS_SELECTOR, "#receipt-0002 .warnings li").text
        assert warning.startswith("[WARNING UTF-8 text"), warning
        assert not driver.find_elements(By.CSS_SELECTOR, "#receipt-0001 .badge, #receipt-0001 .warnings")
        wait.until(lambda d: "PADARIA PÃO DOURADO" in d.find_element(By.CSS_SELECTOR, "#receipt-0001 pre").text)
        widths = driver.execute_script(
            "const e = document.documentElement; return [e.scrollWidth, e.clientWidth];")
        assert widths[0] <= widths[1] == 390, f"the page scrolls sideways: {widths}"
        picture, transcript = (driver.find_element(By.CSS_SELECTOR, "#receipt-0001 " + part).rect
                               for part in ("img.picture", "pre.transcript"))
        assert picture["width"] < 390 and transcript["y"] > picture["y"], (picture, transcript)

        stopped, emulator = emulator.stop(), None
        assert stopped == 0, f"emulate exited with {stopped}"
        wait.until(lambda d: d.find_element(By.ID, "state").text == "not connected")
        buttons = driver.find_elements(By.CSS_SELECTOR, "button[data-state]")
        assert buttons and all(not b.is_enabled() for b in buttons), "a state button stayed enabled"
        print("the page showed the receipts live with their warnings, its button set paper-out, "
              "a forged post was refused, at 390 px nothing scrolls sideways, a stopped printer "
              "shows as not connected")
    finally:
        if driver:
            driver.quit()
        if emulator:
            emulator.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
