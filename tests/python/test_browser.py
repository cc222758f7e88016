"""The drawn page in a real browser: headless Chromium loads it offline, logs no
JavaScript error, and draws one block per placed item in every box; the step
controls put the items in one at a time."""

import pytest

import stowvex
from stowvex_tools import render_html

pytest.importorskip("selenium.webdriver", reason="selenium is not installed")

from headless_chromium import chromium, needs_chromium

pytestmark = needs_chromium


@pytest.fixture(scope="module")
def browser():
    yield from chromium(("--use-gl=swiftshader", "--enable-unsafe-swiftshader"))


def load(browser, path):
    browser.get(path.as_uri())
    browser.get_log("browser")  # a fresh log for the checks below
    return browser.execute_script(
        "const gd = document.getElementById('plot');return gd && gd.data ? gd.data.length : null;"
    )


def blocks_drawn(browser):
    return browser.execute_script(
        "const mesh = document.getElementById('plot').data[0];"
        "return mesh.visible === false ? 0 : mesh.i.length / 12;"
    )


def errors(browser):
    return [entry for entry in browser.get_log("browser") if entry["level"] == "SEVERE"]


def test_every_box_shows_its_blocks_and_the_steps_put_them_in_one_at_a_time(browser, tmp_path):
    items = [
        {
            "ItemCode": f"SKU-{n % 11}",
            "Width": 3 + n % 4,
            "Length": 4,
            "Depth": 2 + n % 3,
            "Weight": 0.4,
        }
        for n in range(90)
    ]
    result = stowvex.pack_dicts(
        items, [{"Reference": "TOTE", "Width": 12, "Length": 10, "Depth": 8, "MaxWeight": 9}]
    )
    assert load(browser, render_html(result, tmp_path / "view.html")) == 5
    counts = []
    for n, box in reversed(list(enumerate(result.boxes))):
        browser.execute_script(
            f"const s = document.getElementById('box-select');"
            f"s.value = '{n}'; s.dispatchEvent(new Event('change'));"
        )
        counts.append(blocks_drawn(browser))
        rows = browser.execute_script(
            f"return document.querySelectorAll('#items-{n} tbody tr').length;"
        )
        assert rows == len(box.items)
    assert counts[::-1] == [len(box.items) for box in result.boxes] and len(counts) >= 2

    first = len(result.boxes[0].items)
    browser.find_element("id", "step-back").click()
    assert blocks_drawn(browser) == first - 1
    browser.execute_script(
        "const s = document.getElementById('step'); s.value = '0';"
        "s.dispatchEvent(new Event('input'));"
    )
    assert blocks_drawn(browser) == 0
    browser.find_element("id", "step-on").click()
    assert blocks_drawn(browser) == 1
    caption = browser.find_element("id", "step-text").text
    assert caption.startswith(f"Step 1 of {first}: put SKU-") and "z 0," in caption
    current = browser.execute_script(
        "return document.querySelector('#items-0 tr.current').dataset.step;"
    )
    assert current == "1"
    assert errors(browser) == []


def test_a_thousand_items_draw_in_one_box(browser, tmp_path):
    items = [
        {"ItemCode": f"P{n}", "Width": 1 + n % 3, "Length": 1 + n % 2, "Depth": 1}
        for n in range(1000)
    ]
    result = stowvex.pack_dicts(
        items, [{"Reference": "PALLET", "Width": 40, "Length": 40, "Depth": 40}]
    )
    assert result.total_placed == 1000 and len(result.boxes) == 1
    load(browser, render_html(result, tmp_path / "big.html"))
    assert blocks_drawn(browser) == 1000
    assert errors(browser) == []


def test_steps_draw_labels_and_outlines_of_the_items_put_in_and_keep_the_camera(browser, tmp_path):
    items = [
        {"ItemCode": "GLASS" if n % 3 == 0 else f"BOX-{n % 4}", "Width": 2, "Length": 2, "Depth": 2}
        for n in range(12)
    ]
    result = stowvex.pack_dicts(items, [{"Reference": "T", "Width": 4, "Length": 4, "Depth": 40}])
    page = render_html(
        result, tmp_path / "rules.html", rules={"items": {"GLASS": {"Fragile": True}}}
    )
    load(browser, page)

    def drawn():
        return browser.execute_script(
            "const d = document.getElementById('plot').data;"
            "return [d[3].text.length, d[2].x.length / 36, d[1].x.length / 36];"
        )

    assert drawn() == [12, 4, 8]  # labels, fragile outlines, other outlines
    # the reader turns the view; the steps keep it
    browser.execute_script(
        "Plotly.relayout('plot', {'scene.camera.eye': {x: 0.1, y: -2.5, z: 0.4}});"
    )
    browser.execute_script(
        "const s = document.getElementById('step'); s.value = '0';"
        "s.dispatchEvent(new Event('input'));"
    )
    assert drawn() == [0, 0, 0] and blocks_drawn(browser) == 0
    order = browser.execute_script("return FIGURES[0].data[3].text;")
    for step in range(1, 4):
        browser.find_element("id", "step-on").click()
        fragile = sum(code == "GLASS" for code in order[:step])
        assert drawn() == [step, fragile, step - fragile]
    eye = browser.execute_script(
        "return document.getElementById('plot')._fullLayout.scene.camera.eye;"
    )
    assert eye["x"] == pytest.approx(0.1) and eye["y"] == pytest.approx(-2.5)
    assert errors(browser) == []
