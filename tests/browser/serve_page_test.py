#!/usr/bin/python3
"""The serve page in headless Chromium: the picker offers only personas that
can play; a move by clicking shows its legal-move dots, the persona's reply
and the preview; an illegal move gets a word; a bad start position leaves the
current game playable; the arrow keys step through the moves; a game from a
set-up position where White throws the queen away is reviewed and stepped through;
"Your games" lists both games, with the suggested opponent and a way back to the one going on.

usage: serve_page_test.py AI_PLAYERS WEB_ROOT SCREENSHOT
Exits 77 (skipped) when Chromium, its driver or Selenium is missing.
"""
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading

SKIP = 77


def start_server(program, web_root, db):
    # A kept 60-move game (two random movers) for the review's long move list.
    long_game = os.path.join(os.path.dirname(db), "long.pgn")
    subprocess.run([program, "match", "--white", "Talvo", "--black", "Talvo", "--seed", "5", "--max-plies", "120",
                    "--pgn", long_game], check=True, capture_output=True)
    subprocess.run([program, "games", "--db", db, "--import", long_game], check=True, capture_output=True)
    server = subprocess.Popen(
        [program, "serve", "--port", "0", "--max-games", "2", "--preview-depth", "3", "--review-depth", "4", "--web-root", web_root,
         "--db", db, "--instant"],
        stdout=subprocess.PIPE, text=True)
    lines = queue.Queue()
    threading.Thread(target=lambda: lines.put(server.stdout.readline()), daemon=True).start()
    first = lines.get(timeout=30)
    url = next(word for word in first.split() if word.startswith("http://"))
    assert url.startswith("http://127.0.0.1:"), first
    return server, url


def play_on_the_page(driver, wait, By, Select, ActionChains, Keys):
    text = lambda name: driver.find_element(By.ID, name).text
    names = lambda: driver.execute_script("return [...document.querySelectorAll('#persona option')].map(o => o.value)")
    wait.until(lambda d: len(names()) > 5)
    assert not [n for n in names() if n.startswith("disabled.")], names()
    # The picker shows measured ratings only, never a roster number.
    labels = driver.execute_script("return [...document.querySelectorAll('#persona option')].map(o => o.textContent)")
    assert all("(rated " in t or t.endswith("(not rated)") for t in labels), labels

    Select(driver.find_element(By.ID, "persona")).select_by_value("Gnome")
    driver.find_element(By.ID, "new-game").click()
    wait.until(lambda d: text("status") == "Your move.")
    game = lambda: driver.execute_script("return window.aiPlayers.game()")
    first_id = game()["id"]

    square = lambda name: driver.find_element(By.CSS_SELECTOR, f'#board [data-square="{name}"]')
    click = lambda name: ActionChains(driver, duration=0).move_to_element(square(name)).click().perform()
    click("e2")
    wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#board .marker-dot")) == 2)  # e3 and e4
    click("e5")
    wait.until(lambda d: "not a legal move" in text("status"))
    click("e2")
    click("e4")
    wait.until(lambda d: "Gnome played" in text("status"))
    preview = text("preview")
    assert preview.startswith("Your move e4 ") and "engine's best" in preview, preview
    state = game()
    assert state["moves_coord"][0] == "e2e4" and len(state["moves"]) == 2, state
    wait.until(lambda d: d.find_element(By.ID, "board").get_attribute("data-fen") == state["fen"])
    assert driver.execute_script("return window.aiPlayers.board.getPosition()") == state["fen"].split()[0]

    # A start position the board does not accept: said in the page's words, and the game goes on.
    driver.find_element(By.ID, "fen").send_keys("8/8/8 w - - 0 1")
    driver.find_element(By.ID, "new-game").click()
    wait.until(lambda d: text("status").startswith("That start position cannot be used"))
    assert "--" not in text("status"), text("status")
    assert game()["id"] == first_id
    driver.find_element(By.ID, "fen").clear()
    legal = game()["legal"]
    move = next(m for m in legal if m.startswith("d2")) if any(m.startswith("d2") for m in legal) else legal[0]
    click(move[:2])
    click(move[2:4])
    wait.until(lambda d: len(game()["moves"]) == 4 and "Gnome played" in text("status"))

    # The arrow keys step back through the moves and forward again.
    body = driver.find_element(By.TAG_NAME, "body")
    body.send_keys(Keys.ARROW_LEFT)
    wait.until(lambda d: text("step-note").startswith("Showing move 3 of 4"))
    wait.until(lambda d: d.find_element(By.ID, "board").get_attribute("data-fen") == game()["positions"][3])
    body.send_keys(Keys.END)
    wait.until(lambda d: text("step-note") == "")
    return preview, game()


def alert_shown(driver):
    try:
        return driver.switch_to.alert
    except Exception:  # none yet
        return False


def review_a_blunder(driver, wait, click, By):
    """1. Qd7+ gives the queen away: Review marks it, stepping shows it with arrows."""
    driver.find_element(By.ID, "fen").send_keys("3qk3/8/8/8/8/8/8/3QK3 w - - 0 1")
    # Leaving a game going on is asked first: "Cancel" keeps it, OK starts the new one.
    going = driver.execute_script("return window.aiPlayers.game().id")
    driver.find_element(By.ID, "new-game").click()
    alert = wait.until(alert_shown)
    assert alert.text.startswith("Leave the game against Gnome?"), alert.text
    alert.dismiss()
    assert driver.execute_script("return window.aiPlayers.game().id") == going
    driver.find_element(By.ID, "new-game").click()
    wait.until(alert_shown).accept()
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


def your_games(driver, wait, By):
    """Both games are kept: the first left when the second began, the second going on."""
    driver.find_element(By.ID, "your-games-button").click()
    view = wait.until(lambda d: d.find_element(By.ID, "your-games"))
    rows = lambda: view.find_elements(By.CSS_SELECTOR, "tbody tr")
    wait.until(lambda d: len(rows()) == 3)
    newest, first, long_game = rows()
    assert "left unfinished" in first.text and "Gnome" in first.text, first.text
    assert not first.find_elements(By.CSS_SELECTOR, ".yg-continue"), first.text
    rating = view.find_element(By.CSS_SELECTOR, ".yg-rating").text
    assert rating.startswith("No rating yet"), rating
    suggestion = view.find_element(By.CSS_SELECTOR, ".yg-suggestion").text
    assert suggestion.startswith("Suggested next: "), suggestion
    assert driver.find_elements(By.CSS_SELECTOR, "#persona option[value]") and any(
        o.text.endswith("· suggested") for o in driver.find_elements(By.CSS_SELECTOR, "#persona option")), "no suggested persona"
    # A kept game's review, on the review's own board.
    moves = len(driver.execute_script("return window.aiPlayers.game().moves"))
    first.find_element(By.CSS_SELECTOR, ".yg-review").click()
    wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#review-view .rv-moves .rv-move")) == 4)
    # The 60-move game: every move in the review's list, the last one reachable, nothing cut at the side.
    long_game.find_element(By.CSS_SELECTOR, ".yg-review").click()
    review = driver.find_element(By.ID, "review-view")
    wait.until(lambda d: len(review.find_elements(By.CSS_SELECTOR, ".rv-move:not(.rv-pending)")) == 120
               and review.get_attribute("data-ply") is not None)
    assert not review.find_element(By.CSS_SELECTOR, ".rv-bar").is_displayed()
    review.find_element(By.CSS_SELECTOR, ".rv-last").click()
    wait.until(lambda d: review.get_attribute("data-ply") == "119")
    listed = review.find_element(By.CSS_SELECTOR, ".rv-moves")
    widths = driver.execute_script("return [arguments[0].scrollWidth, arguments[0].clientWidth]", listed)
    assert widths[0] <= widths[1], widths
    last = review.find_elements(By.CSS_SELECTOR, ".rv-move")[-1]
    assert driver.execute_script(
        "const r = arguments[0].getBoundingClientRect(), l = arguments[1].getBoundingClientRect();"
        "return r.top >= l.top && r.bottom <= l.bottom + 1", last, listed), "the last move is out of sight"
    going = driver.execute_script("return window.aiPlayers.game().id")
    newest.find_element(By.CSS_SELECTOR, ".yg-continue").click()
    wait.until(lambda d: d.find_element(By.ID, "status").text.startswith(f"Game {newest.get_attribute('data-game')} continued."))
    assert driver.execute_script("return window.aiPlayers.game().id") == going
    assert len(driver.execute_script("return window.aiPlayers.game().moves")) == moves
    return f"your games: {len(rows())} kept, a 60-move review"


def main():
    program, web_root, screenshot = sys.argv[1:4]
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.support.ui import Select, WebDriverWait
    except ImportError:
        print("skipped: python3-selenium is not installed")
        return SKIP
    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver")
    if not chromium or not driver_path:
        print("skipped: chromium or chromium-driver is not installed")
        return SKIP

    db_dir = tempfile.TemporaryDirectory()
    server, url = start_server(program, web_root, os.path.join(db_dir.name, "games.db"))
    driver = None
    try:
        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1000,760", "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--disable-extensions",
                    "--force-prefers-reduced-motion"):
            options.add_argument(arg)
        driver = webdriver.Chrome(service=Service(driver_path), options=options)
        driver.set_page_load_timeout(30)
        driver.get(url)
        wait = WebDriverWait(driver, 45, poll_frequency=0.05)
        preview, game = play_on_the_page(driver, wait, By, Select, ActionChains, Keys)
        square = lambda name: driver.find_element(By.CSS_SELECTOR, f'#board [data-square="{name}"]')
        click = lambda name: ActionChains(driver, duration=0).move_to_element(square(name)).click().perform()
        review = review_a_blunder(driver, wait, click, By)
        driver.save_screenshot(screenshot)
        kept = your_games(driver, wait, By)
        print(f"ok: {preview}; moves {' '.join(game['moves'])}; {review}; {kept}; screenshot {screenshot}")
        return 0
    finally:
        if driver:
            driver.quit()
        server.terminate()
        try:
            server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()
        db_dir.cleanup()


if __name__ == "__main__":
    sys.exit(main())
