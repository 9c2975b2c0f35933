#!/usr/bin/python3
"""The serve page in headless Chromium: start a game, move by clicking, see
the persona's reply on the board and the preview of the move; then a second
game from a set-up position where White throws the queen away, reviewed and
stepped through to that blunder.

usage: serve_page_test.py AI_PLAYERS WEB_ROOT SCREENSHOT
Exits 77 (skipped) when Chromium, its driver or Selenium is missing.
"""
import os
import queue
import shutil
import subprocess
import sys
import threading

SKIP = 77


def main():
    program, web_root, screenshot = sys.argv[1:4]
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import Select, WebDriverWait
    except ImportError:
        print("skipped: python3-selenium is not installed")
        return SKIP
    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver")
    if not chromium or not driver_path:
        print("skipped: chromium or chromium-driver is not installed")
        return SKIP

    server = subprocess.Popen(
        [program, "serve", "--port", "0", "--max-games", "2", "--preview-depth", "5", "--web-root", web_root],
        stdout=subprocess.PIPE, text=True)
    driver = None
    try:
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(server.stdout.readline()), daemon=True).start()
        first = lines.get(timeout=30)
        url = next(word for word in first.split() if word.startswith("http://"))
        assert url.startswith("http://127.0.0.1:"), first

        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1000,760"):
            options.add_argument(arg)
        driver = webdriver.Chrome(service=Service(driver_path), options=options)
        driver.set_page_load_timeout(30)
        wait = WebDriverWait(driver, 45)
        driver.get(url)

        wait.until(lambda d: len(Select(d.find_element(By.ID, "persona")).options) > 5)
        Select(driver.find_element(By.ID, "persona")).select_by_value("Gnome")
        driver.find_element(By.ID, "new-game").click()
        wait.until(lambda d: d.find_element(By.ID, "status").text == "Your move.")

        # Click the pawn, then its target square.
        square = lambda name: driver.find_element(By.CSS_SELECTOR, f'#board [data-square="{name}"]')
        ActionChains(driver).move_to_element(square("e2")).click().perform()
        ActionChains(driver).move_to_element(square("e4")).click().perform()

        wait.until(lambda d: "Gnome played" in d.find_element(By.ID, "status").text)
        preview = driver.find_element(By.ID, "preview").text
        assert preview.startswith("Your move e4 "), preview
        assert "engine's best" in preview, preview
        game = driver.execute_script("return window.aiPlayers.game()")
        assert game["moves_coord"][0] == "e2e4" and len(game["moves"]) == 2, game
        # The board shows the position after the reply.
        placement = game["fen"].split()[0]
        wait.until(lambda d: d.find_element(By.ID, "board").get_attribute("data-fen") == game["fen"])
        assert driver.execute_script("return window.aiPlayers.board.getPosition()") == placement
        moves = driver.find_element(By.ID, "moves").text
        assert moves.startswith("e4 " + game["moves"][1]), moves

        click = lambda name: ActionChains(driver).move_to_element(square(name)).click().perform()
        review = review_a_blunder(driver, wait, click, By)
        driver.save_screenshot(screenshot)
        print(f"ok: {preview}; reply {game['moves'][1]}; {review}; screenshot {screenshot}")
        return 0
    finally:
        if driver:
            driver.quit()
        server.terminate()
        try:
            server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()


def review_a_blunder(driver, wait, click, By):
    """1. Qd7+ gives the queen away: Review marks it, stepping shows it with arrows."""
    driver.find_element(By.ID, "fen").send_keys("3qk3/8/8/8/8/8/8/3QK3 w - - 0 1")
    driver.find_element(By.ID, "new-game").click()
    wait.until(lambda d: d.find_element(By.ID, "status").text == "Your move.")
    click("d1")
    click("d7")
    wait.until(lambda d: "Gnome played" in d.find_element(By.ID, "status").text)
    driver.find_element(By.ID, "review").click()
    view = wait.until(lambda d: d.find_element(By.ID, "review-view"))
    wait.until(lambda d: view.get_attribute("data-ply") is not None)
    moves = view.find_elements(By.CSS_SELECTOR, ".rv-moves .rv-move")
    assert len(moves) == 2, [m.text for m in moves]
    blunder = view.find_element(By.CSS_SELECTOR, ".rv-move.rv-blunder")
    assert blunder.text.startswith("Qd7+") and blunder.text.endswith("??"), blunder.text
    # Step away with the keyboard and the buttons, then back by clicking the move.
    driver.find_element(By.TAG_NAME, "body").send_keys("\ue014")  # arrow right
    wait.until(lambda d: view.get_attribute("data-ply") == "1")
    view.find_element(By.CSS_SELECTOR, ".rv-first").click()
    wait.until(lambda d: view.get_attribute("data-ply") == "0")
    view.find_element(By.CSS_SELECTOR, ".rv-last").click()
    wait.until(lambda d: view.get_attribute("data-ply") == "1")
    blunder.click()
    wait.until(lambda d: view.get_attribute("data-ply") == "0")
    arrows = view.find_elements(By.CSS_SELECTOR, ".rv-board .arrow")
    drawn = {a.get_attribute("data-arrow") for a in arrows}
    assert len(drawn) == 2 and "d1d7" in drawn, drawn  # the move played and the best
    caption = view.find_element(By.CSS_SELECTOR, ".rv-caption").text
    assert caption.startswith("1. Qd7+ ?? blunder") and "best: Q" in caption, caption
    assert view.find_element(By.CSS_SELECTOR, ".rv-line").text.startswith("Best line: 1. Q"), caption
    assert view.find_elements(By.CSS_SELECTOR, ".rv-graph circle.move.blunder.rv-current")
    driver.set_window_size(1000, 1250)
    driver.execute_script("document.getElementById('review-view').scrollIntoView()")
    return caption


if __name__ == "__main__":
    sys.exit(main())
