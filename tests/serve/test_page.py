"""The page in a real browser: Chromium driven by Selenium picks files
through the page's file input and reads what the page shows."""

import shutil
import time
from pathlib import Path

import pytest

from conftest import BUILD, run_command

webdriver = pytest.importorskip("selenium.webdriver", reason="python3-selenium is not installed")
from selenium.webdriver.chrome.service import Service as ChromeService  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support import expected_conditions as seen  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402


@pytest.fixture
def browser(tmp_path):
    if not shutil.which("chromedriver") or not shutil.which("chromium"):
        pytest.skip("chromium and chromium-driver are not installed")
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-proxy-server", "--window-size=1100,1400"):
        options.add_argument(argument)
    downloads = tmp_path / "downloads"
    downloads.mkdir()
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads),
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=ChromeService(shutil.which("chromedriver")), options=options)
    driver.downloads = downloads
    yield driver
    driver.quit()


def pick(driver, path):
    driver.find_element(By.ID, "files").send_keys(str(path))


def wait(driver, condition, seconds=30):
    return WebDriverWait(driver, seconds).until(condition)


def card_of(driver, name):
    xpath = f"//li[@class='file'][div[@class='file-name'][text()='{name}']]"
    return wait(driver, seen.presence_of_element_located((By.XPATH, xpath)))


def test_the_page_lists_previews_and_downloads(service, browser, seeds, corpus):
    s = service()
    browser.get(f"http://127.0.0.1:{s.port}/")
    wait(browser, lambda d: d.find_elements(By.CSS_SELECTOR, "#format option"))

    # A document: listed with its generation, previewed, downloaded as DOCX.
    document = seeds / "macwrite5-example"
    pick(browser, document)
    card = card_of(browser, document.name)
    row = wait(browser, lambda d: card.find_elements(By.CSS_SELECTOR, "li.doc"))[0]
    assert row.find_element(By.CLASS_NAME, "generation").text == "MacWrite 4.6/5"
    row.find_element(By.CLASS_NAME, "preview").click()
    frame = wait(browser, seen.visibility_of_element_located((By.ID, "preview")))
    first = next(line for line in run_command("-t", "text", document).stdout.decode().splitlines() if line.strip())
    browser.switch_to.frame(frame)
    wait(browser, lambda d: first.strip() in d.find_element(By.TAG_NAME, "body").text)
    browser.switch_to.default_content()
    assert browser.find_element(By.ID, "format").get_attribute("value") == "docx"
    row.find_element(By.CLASS_NAME, "download").click()
    target = browser.downloads / f"{document.name}.docx"
    wait(browser, lambda d: target.is_file() and not list(browser.downloads.glob("*.crdownload")))
    assert target.read_bytes() == run_command("-t", "docx", document.name, cwd=document.parent).stdout

    # A disk image: every document inside is listed.
    image = corpus / "containers" / "MacWrite 4.5.image"
    pick(browser, image)
    card = card_of(browser, image.name)
    wait(browser, lambda d: card.find_elements(By.CSS_SELECTOR, "li.doc"))
    listed = [r.get_attribute("data-name") for r in card.find_elements(By.CSS_SELECTOR, "li.doc")]
    import json
    expected = [j["member"] for j in map(json.loads, run_command("--identify", "--json", image).stdout.splitlines())
                if j["macwrite"]]
    assert listed == expected and len(listed) >= 2
    assert card.find_element(By.CLASS_NAME, "download-all").is_displayed()

    # A file that is no MacWrite document: the command's message.
    other = corpus / "negative" / "infinite-mac__MFS-HD__MacDraw_Manual_Example"
    pick(browser, other)
    card = card_of(browser, other.name)
    message = run_command("-t", "text", other.name, cwd=other.parent).stderr.decode().strip()
    wait(browser, lambda d: card.find_element(By.CLASS_NAME, "message").text == message)

    # For a person to look at: the page with all three.
    row.find_element(By.CLASS_NAME, "preview").click()
    time.sleep(0.5)
    browser.execute_script("window.scrollTo(0, 0)")
    browser.save_screenshot(str(Path(BUILD) / "serve-page.png"))
