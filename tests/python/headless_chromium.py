"""Debian's Chromium, headless, for the tests that load pages in a real browser."""

import shutil
from collections.abc import Iterable, Iterator

import pytest

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver")
needs_chromium = pytest.mark.skipif(
    not (CHROMIUM and DRIVER),
    reason="Debian's chromium and chromium-driver are not installed and could not be "
    "(scripts/browser.sh installs them)",
)


def chromium(arguments: Iterable[str], logs: Iterable[str] = ("browser",)) -> Iterator[object]:
    """A fixture body: a driver of headless Chromium with these extra arguments and
    these logs kept in full, quit when the fixture ends."""
    from selenium import webdriver

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", *arguments):
        options.add_argument(argument)
    options.add_argument("--window-size=1200,900")
    options.set_capability("goog:loggingPrefs", dict.fromkeys(logs, "ALL"))
    service = webdriver.ChromeService(executable_path=DRIVER)
    driver = webdriver.Chrome(options=options, service=service)
    driver.set_page_load_timeout(60)
    yield driver
    driver.quit()
