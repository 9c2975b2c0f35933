#!/usr/bin/python3
"""Screenshots of the two ways to play, for docs/images/: the page of `serve` in
headless Chromium (desktop and a phone-sized window, a persona thinking with
its clocks running, then the game's review and Your games) and `play` in tmux
at 80x24, captured as text and drawn as a picture. Games go to a database of
their own, not the user's.

usage: scripts/screenshots.py build/ai-players [OUT_DIR]   (default docs/images/)
Needs chromium, chromium-driver, python3-selenium and tmux.
"""
import html
import os
import queue
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def browser(width, height):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                f"--window-size={width},{height}", "--hide-scrollbars"):
        options.add_argument(arg)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def serve(program, db):
    server = subprocess.Popen([program, "serve", "--port", "0", "--web-root", os.path.join(ROOT, "web"), "--db", db],
                              stdout=subprocess.PIPE, text=True)
    lines = queue.Queue()
    threading.Thread(target=lambda: lines.put(server.stdout.readline()), daemon=True).start()
    url = next(w for w in lines.get(timeout=30).split() if w.startswith("http://"))
    return server, url


def page_shots(url, out):
    """A game against HOUD20c with clocks: a few moves, then a shot while it thinks."""
    for name, (width, height) in {"page.png": (1100, 760), "page-phone.png": (400, 800)}.items():
        driver = browser(width, height)
        try:
            wait = WebDriverWait(driver, 60)
            driver.get(url)
            wait.until(lambda d: len(Select(d.find_element(By.ID, "persona")).options) > 5)
            Select(driver.find_element(By.ID, "persona")).select_by_value("HOUD20c")
            Select(driver.find_element(By.ID, "time")).select_by_value("tc:300+5")
            driver.find_element(By.ID, "new-game").click()
            status = lambda: driver.find_element(By.ID, "status").text
            wait.until(lambda d: status() == "Your move.")
            click = lambda sq: ActionChains(driver).move_to_element(
                driver.find_element(By.CSS_SELECTOR, f'#board [data-square="{sq}"]')).click().perform()
            for move in ("d2d4", "c2c4", "b1c3"):
                wait.until(lambda d: status().endswith("Your move."))
                click(move[:2])
                if move == "b1c3" and name == "page.png":
                    time.sleep(0.5)
                    driver.save_screenshot(os.path.join(out, "page-dots.png"))  # the legal-move dots
                click(move[2:])
                if move == "b1c3":
                    wait.until(lambda d: "depth" in status())
                    time.sleep(1.5)
                    driver.save_screenshot(os.path.join(out, name))
            # The review of those moves, then the kept games, each whole in a taller window.
            suffix = "-phone" if "phone" in name else ""
            driver.set_window_size(width, 1600)
            wait.until(lambda d: status().endswith("Your move."))
            driver.find_element(By.ID, "review").click()
            review = wait.until(lambda d: d.find_element(By.ID, "review-view"))
            wait.until(lambda d: review.get_attribute("data-ply") is not None)
            driver.execute_script("arguments[0].scrollIntoView()", review)
            time.sleep(0.5)
            review.screenshot(os.path.join(out, f"page-review{suffix}.png"))
            driver.find_element(By.ID, "your-games-button").click()
            games = wait.until(lambda d: d.find_element(By.ID, "your-games"))
            wait.until(lambda d: games.find_elements(By.CSS_SELECTOR, "tbody tr"))
            driver.execute_script("arguments[0].scrollIntoView()", games)
            time.sleep(0.5)
            games.screenshot(os.path.join(out, f"page-games{suffix}.png"))
        finally:
            driver.quit()


def terminal_text(program):
    """`play` in tmux at 80x24: two moves, the second one hurried with Enter."""
    session = "ai-players-shot"
    pgn = tempfile.mktemp(suffix=".pgn")
    subprocess.run(["tmux", "new-session", "-d", "-s", session, "-x", "80", "-y", "24",
                    f"{program} play --persona HOUD20c --tc 5+5 --seed 4 --instant --no-db --pgn {pgn}"], check=True)
    keys = lambda *k: subprocess.run(["tmux", "send-keys", "-t", session, *k], check=True)
    try:
        time.sleep(1.5)
        keys("d4", "Enter")
        time.sleep(2)
        keys("c4", "Enter")
        time.sleep(4)
        keys("Enter")  # move now
        time.sleep(2)
        keys("nc3", "Enter")
        time.sleep(3.5)
        return subprocess.run(["tmux", "capture-pane", "-p", "-t", session], check=True,
                              capture_output=True, text=True).stdout
    finally:
        subprocess.run(["tmux", "kill-session", "-t", session])


def text_picture(text, path):
    page = tempfile.mktemp(suffix=".html")
    with open(page, "w") as f:
        f.write("<html><body style='margin:0;background:#111'><pre style='display:inline-block;padding:8px;margin:0;background:#111;color:#ddd;"
                "font:15px/1.25 DejaVu Sans Mono,monospace'>" + html.escape(text) + "</pre></body></html>")
    driver = browser(1000, 800)
    try:
        driver.get("file://" + page)
        driver.find_element(By.TAG_NAME, "pre").screenshot(path)
    finally:
        driver.quit()


def main():
    program = os.path.abspath(sys.argv[1])
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "docs", "images")
    text = terminal_text(program)
    with open(os.path.join(out, "terminal.txt"), "w") as f:
        f.write(text)
    text_picture(text, os.path.join(out, "terminal.png"))
    db = tempfile.TemporaryDirectory()
    server, url = serve(program, os.path.join(db.name, "games.db"))
    try:
        page_shots(url, out)
    finally:
        server.terminate()
        server.wait(timeout=20)
        db.cleanup()


if __name__ == "__main__":
    main()
