"""The service's documentation page in headless Chromium: Swagger UI draws every route of
the OpenAPI document, logs no error, and the page asks nothing of any host but the
service's own (every request the page makes is read from the browser's network log,
and names of other hosts do not even resolve)."""

import json
import time

import pytest

pytest.importorskip("uvicorn", reason="the service extra is not installed")
pytest.importorskip("selenium.webdriver", reason="selenium is not installed")

from headless_chromium import chromium, needs_chromium
from service_process import Service

pytestmark = needs_chromium


@pytest.fixture(scope="module")
def service(tmp_path_factory):
    running = Service(tmp_path_factory.mktemp("docs"), "--workers", "1")
    yield running
    running.stop()


@pytest.fixture(scope="module")
def browser():
    yield from chromium(
        (
            "--disable-background-networking",
            "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
        ),
        ("browser", "performance"),
    )


def requested_urls(browser):
    urls = []
    for entry in browser.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    return urls


def test_the_docs_draw_every_route_with_nothing_from_another_host(service, browser):
    document = service.client.get("/openapi.json").json()
    expected = sum(len(set(p) - {"parameters"}) for p in document["paths"].values())
    browser.get(f"{service.url}/docs")
    deadline = time.monotonic() + 30
    operations = 0
    while time.monotonic() < deadline:
        operations = browser.execute_script(
            "return document.querySelectorAll('.opblock-summary').length;"
        )
        if operations >= expected:
            break
        time.sleep(0.1)
    assert operations == expected  # one per method and path of the document
    title = browser.execute_script("return document.querySelector('.info .title').textContent;")
    assert title.startswith("stowvex")
    paths = browser.execute_script(
        "return Array.from(document.querySelectorAll('.opblock-summary-path'))"
        ".map(e => e.textContent.replace(/\\u200b/g, ''));"
    )
    assert "/v1/pack" in paths and "/v1/batches/{job}/results" in paths
    urls = requested_urls(browser)
    assert f"{service.url}/openapi.json" in urls
    assert f"{service.url}/docs/swagger-ui-bundle.js" in urls
    foreign = [u for u in urls if not u.startswith((service.url + "/", "data:", "blob:"))]
    assert foreign == []
    assert [e for e in browser.get_log("browser") if e["level"] == "SEVERE"] == []
