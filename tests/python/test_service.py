"""The service's endpoints on a real `stowvex serve` process with two packing
processes: packing byte for byte as stowvex.solve, the request check, validation,
pictures, batches, the probes, the metrics, the OpenAPI document and the problem
documents of bad input."""

import json
import sys
import time
from pathlib import Path

import pytest

import stowvex
from stowvex_tools import settle, validate

pytest.importorskip("httpx", reason="httpx is not installed")
pytest.importorskip("uvicorn", reason="the service extra is not installed")

from service_process import EXAMPLE_REQUEST, Service, assert_problem, slow_request

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "golden"))
import corpus

CATALOGUE = [
    {"Reference": "SMALL", "Width": 20, "Length": 20, "Depth": 20, "MaxWeight": 10},
    {"Reference": "LARGE", "Width": 40, "Length": 40, "Depth": 40, "MaxWeight": 30},
]


def order(n, code="A"):
    return [{"ItemCode": f"{code}{k}", "Width": 10, "Length": 10, "Depth": 5} for k in range(n)]


@pytest.fixture(scope="module")
def service(tmp_path_factory):
    running = Service(tmp_path_factory.mktemp("service"), "--workers", "2", "--timeout", "20")
    yield running
    assert running.stop() == 0


@pytest.fixture()
def client(service):
    return service.client


class TestPack:
    def test_the_answer_is_the_text_solve_returns(self, client):
        answer = client.post("/v1/pack", content=EXAMPLE_REQUEST)
        assert answer.status_code == 200
        assert answer.headers["content-type"] == "application/json"
        assert answer.content == stowvex.solve(EXAMPLE_REQUEST).encode()

    def test_a_sample_of_the_golden_corpus_packs_as_solve_packs_it(self, client):
        compared = refused = 0
        for index in range(0, corpus.CASE_COUNT, 97):
            text = corpus.generated_request(index)
            try:
                body = text.encode("utf-8")
            except UnicodeEncodeError:  # a lone surrogate: no UTF-8 body can carry it
                continue
            answer = client.post("/v1/pack", params={"check": "false"}, content=body)
            try:
                expected = stowvex.solve(body)
            except (ValueError, RuntimeError, TypeError) as error:
                document = answer.json()
                assert answer.status_code in (400, 422), (index, answer.text)
                assert str(error) in document["detail"], index
                refused += 1
                continue
            assert answer.status_code == 200, (index, answer.text)
            assert answer.content == expected.encode(), index
            compared += 1
        assert compared >= 80 and refused >= 1

    def test_many_requests_at_once_are_each_answered_with_their_own_result(self, client):
        from concurrent.futures import ThreadPoolExecutor

        sizes = [1 + n % 23 for n in range(48)]
        bodies = [json.dumps({"items": order(n), "boxes": CATALOGUE}).encode() for n in sizes]
        with ThreadPoolExecutor(12) as pool:
            answers = list(pool.map(lambda body: client.post("/v1/pack", content=body), bodies))
        for body, answer in zip(bodies, answers):
            assert answer.status_code == 200, answer.text
            assert answer.content == stowvex.solve(body).encode()

    def test_a_request_with_findings_is_refused_naming_the_place(self, client):
        request = {"items": [{"ItemCode": "MUG", "Width": 1, "Lenght": 2, "Depth": 3}]}
        document = assert_problem(client.post("/v1/pack", json=request), 422, "request-findings")
        places = {(f["where"], f["field"]) for f in document["findings"]}
        assert ("item 0 'MUG'", "Lenght") in places
        assert "did you mean 'Length'" in document["detail"] + json.dumps(document["findings"])

    def test_check_false_packs_what_the_check_refuses_as_the_engine_does(self, client):
        request = {"Items": order(2), "boxes": CATALOGUE}
        assert_problem(client.post("/v1/pack", json=request), 422, "request-findings")
        answer = client.post("/v1/pack", params={"check": "false"}, json=request)
        assert answer.status_code == 200
        assert answer.content == stowvex.solve(json.dumps(request)).encode()

    def test_the_engines_own_refusal_keeps_its_message(self, client):
        request = b'{"items": [{"ItemCode": 5, "Width": 1, "Length": 1, "Depth": 1}]}'
        with pytest.raises((ValueError, RuntimeError)) as raised:
            stowvex.solve(request)
        document = assert_problem(
            client.post("/v1/pack", params={"check": "false"}, content=request),
            422,
            "engine-refused",
        )
        assert document["detail"] == str(raised.value)

    @pytest.mark.parametrize(
        "body, detail",
        [
            (b'{"items": [', "not valid JSON"),
            (b"\xff\xfe{}", "not UTF-8"),
            (b"[" * 100_000 + b"]" * 100_000, "nested too deeply"),
            (b'{"items": [], "boxes": [], "x": NaN}', "not valid JSON"),
        ],
    )
    def test_unreadable_bodies_are_400(self, client, body, detail):
        answer = client.post("/v1/pack", content=body)
        assert detail in assert_problem(answer, 400, "unreadable-body")["detail"]
        if not body.startswith(b"[["):  # solve reads deep arrays as a request of nothing
            unchecked = client.post("/v1/pack", params={"check": "false"}, content=body)
            assert "parse_error" in assert_problem(unchecked, 400, "unreadable-body")["detail"]

    def test_the_optimiser_takes_its_options_and_box_costs(self, client):
        request = {
            "items": order(12),
            "boxes": CATALOGUE,
            "box_costs": {"SMALL": 1.0, "LARGE": 50.0},
        }
        params = {"optimise": "true", "time_limit": "0.5", "seed": "3", "effort": "200000"}
        answer = client.post("/v1/pack", params=params, json=request)
        assert answer.status_code == 200, answer.text
        result = answer.json()
        assert result["summary"]["total_placed"] == 12
        assert {box["box_reference"] for box in result["boxes"]} == {"SMALL"}
        exact = client.post("/v1/pack", json=request)
        assert exact.content == stowvex.solve(json.dumps(request)).encode()

    @pytest.mark.parametrize(
        "params, parameter",
        [
            ({"seed": "1"}, "seed"),  # the optimiser's, without optimise=true
            ({"optimise": "true", "time_limit": "30"}, "time_limit"),  # over the timeout
            ({"timeout": "21"}, "timeout"),  # over the server's --timeout
            ({"timeout": "0"}, "timeout"),
            ({"threads": "0"}, "threads"),
            ({"check": "maybe"}, "check"),
            ({"optimise": "true", "min_support": "2"}, "min_support"),
            ({"optimise": "true", "effort": "-1"}, "effort"),
            ({"colour": "red"}, "colour"),
        ],
    )
    def test_bad_query_parameters_are_400_naming_the_parameter(self, client, params, parameter):
        answer = client.post("/v1/pack", params=params, content=EXAMPLE_REQUEST)
        assert assert_problem(answer, 400, "invalid-parameter")["parameter"] == parameter

    def test_bad_box_costs_are_findings(self, client):
        request = {"items": order(1), "boxes": CATALOGUE, "box_costs": {"SMALL": "cheap"}}
        document = assert_problem(client.post("/v1/pack", json=request), 422, "request-findings")
        assert document["findings"][0]["field"] == "box_costs.SMALL"

    def test_loading_rules_need_the_optimiser_and_settle_lets_items_down(self, client):
        request = {
            "items": [
                {"ItemCode": "A", "Width": 4, "Length": 4, "Depth": 1, "Fragile": True},
            ],
            "boxes": [{"Reference": "T", "Width": 4, "Length": 4, "Depth": 4}],
        }
        refused = client.post("/v1/pack", content=json.dumps(request))
        assert refused.status_code == 422 and "exact engine ignores" in refused.text
        floating = {
            "items": [
                {"ItemCode": "A", "Width": 4, "Length": 4, "Depth": 1},
                {"ItemCode": "B", "Width": 2, "Length": 4, "Depth": 3},
                {"ItemCode": "C", "Width": 2, "Length": 4, "Depth": 3},
            ],
            "boxes": [{"Reference": "T", "Width": 4, "Length": 4, "Depth": 10}],
        }
        settled = client.post("/v1/pack", params={"settle": "true"}, content=json.dumps(floating))
        assert settled.status_code == 200, settled.text
        assert not validate(settled.json(), floating["items"], floating["boxes"])
        expected = settle(stowvex.solve(json.dumps(floating)), floating["items"], floating["boxes"])
        assert settled.content == expected.result.to_json(-1).encode()


class TestCheckValidateRender:
    def test_check_lists_findings_and_none_for_a_sound_request(self, client):
        answer = client.post("/v1/check", content=EXAMPLE_REQUEST)
        assert answer.status_code == 200 and answer.json() == {"findings": [], "count": 0}
        request = {"items": [{"ItemCode": "A", "Width": -1, "Length": 1, "Depth": 1}]}
        found = client.post("/v1/check", json=request).json()
        assert found["count"] == len(found["findings"]) >= 1
        assert {"where", "field", "message", "text"} <= set(found["findings"][0])
        assert_problem(client.post("/v1/check", content=b"{"), 400, "unreadable-body")

    def test_validate_finds_a_broken_result(self, client):
        request = json.loads(EXAMPLE_REQUEST)
        result = json.loads(stowvex.solve(EXAMPLE_REQUEST))
        sound = client.post("/v1/validate", json={"request": request, "result": result})
        assert sound.status_code == 200 and sound.json()["count"] == 0
        result["boxes"][0]["items"][0]["x"] = 1e6
        broken = client.post("/v1/validate", json={"request": request, "result": result}).json()
        assert "outside_box" in {v["kind"] for v in broken["violations"]}
        assert_problem(
            client.post("/v1/validate", json={"request": request}), 422, "unusable-input"
        )
        assert_problem(
            client.post("/v1/validate", json={"request": request, "result": {"boxes": 5}}),
            422,
            "unusable-input",
        )

    def test_render_gives_the_page_or_a_png_of_one_box(self, client):
        result = stowvex.solve(EXAMPLE_REQUEST).encode()
        page = client.post("/v1/render", params={"title": "Order 7"}, content=result)
        assert page.status_code == 200 and page.headers["content-type"].startswith("text/html")
        assert "<title>Order 7</title>" in page.text and "Plotly" in page.text
        png = client.post("/v1/render", headers={"Accept": "image/png"}, content=result)
        assert png.status_code == 200 and png.headers["content-type"] == "image/png"
        assert png.content.startswith(b"\x89PNG\r\n\x1a\n")
        boxes = len(json.loads(result)["boxes"])
        too_far = client.post(
            "/v1/render", params={"box": boxes + 1}, headers={"Accept": "image/png"}, content=result
        )
        assert_problem(too_far, 422, "unusable-input")

    @pytest.mark.parametrize(
        "body",
        [
            EXAMPLE_REQUEST,  # a request, not a result
            b'{"boxes": 5}',
            b'{"boxes": [5]}',
            b'{"boxes": [{"items": "abc"}]}',
        ],
    )
    def test_render_refuses_what_is_not_a_result(self, client, body):
        document = assert_problem(client.post("/v1/render", content=body), 422, "unusable-input")
        assert "not a result" in document["detail"]

    def test_render_refuses_a_coordinate_it_cannot_draw(self, client):
        result = json.loads(stowvex.solve(EXAMPLE_REQUEST))
        result["boxes"][0]["items"][0]["x"] = 1e308
        answer = client.post("/v1/render", json=result)
        assert_problem(answer, 422, "unusable-input")


class TestBatches:
    def wait(self, client, location, states=("done", "failed", "cancelled")):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            status = client.get(location).json()
            if status["state"] in states:
                return status
            time.sleep(0.05)
        raise AssertionError(f"the batch did not end: {status}")

    def test_json_lines_are_packed_in_input_order(self, client):
        lines = [
            json.dumps({"id": f"o{n}", "items": order(n + 1), "boxes": CATALOGUE}) for n in range(6)
        ]
        lines.insert(3, "{not json")
        body = "\n".join(lines).encode() + b"\n"
        answer = client.post(
            "/v1/batches", content=body, headers={"Content-Type": "application/x-ndjson"}
        )
        assert answer.status_code == 202
        location = answer.headers["location"]
        assert location == f"/v1/batches/{answer.json()['id']}"
        status = self.wait(client, location)
        assert (status["state"], status["done"], status["failed"], status["total"]) == (
            "done",
            6,
            1,
            7,
        )
        records = [json.loads(line) for line in client.get(f"{location}/results").iter_lines()]
        assert [r.get("id") for r in records] == ["o0", "o1", "o2", None, "o3", "o4", "o5"]
        assert "error" in records[3]
        request = json.dumps({"items": order(2), "boxes": CATALOGUE})
        assert records[1]["result"] == json.loads(stowvex.solve(request))

    def test_csv_order_lines_take_a_stored_catalogue(self, client):
        stored = client.put("/v1/catalogues/cartons", json=CATALOGUE)
        assert stored.status_code in (200, 201) and stored.json()["boxes"] == 2
        assert client.get("/v1/catalogues/cartons").json() == CATALOGUE
        csv = (
            "order_id,item_code,width,length,depth,weight,quantity\n"
            "A1,MUG,10,10,10,0.3,2\nA2,BOOK,20,15,3,0.5,1\n"
        )
        headers = {"Content-Type": "text/csv"}
        refused = client.post("/v1/batches", content=csv, headers=headers)
        assert "catalogue" in assert_problem(refused, 422, "unusable-input")["detail"]
        answer = client.post(
            "/v1/batches", params={"catalogue": "cartons"}, content=csv, headers=headers
        )
        status = self.wait(client, answer.headers["location"])
        assert (status["state"], status["done"], status["total"]) == ("done", 2, 2)
        assert_problem(
            client.post(
                "/v1/batches", params={"catalogue": "nothing"}, content=csv, headers=headers
            ),
            404,
            "not-found",
        )

    def test_a_catalogue_with_findings_is_refused(self, client):
        answer = client.put("/v1/catalogues/bad", json=[{"Reference": "B", "Width": 1}])
        assert_problem(answer, 422, "request-findings")
        assert_problem(client.put("/v1/catalogues/bad", json=[]), 422, "unusable-input")

    def test_a_running_batch_is_cancelled_and_keeps_its_lines(self, client):
        slow = json.loads(slow_request(3000))
        lines = [json.dumps({"id": "quick", "items": order(2), "boxes": CATALOGUE})]
        lines += [json.dumps(dict(slow, id=f"slow{n}")) for n in range(3)]
        answer = client.post(
            "/v1/batches",
            content="\n".join(lines),
            headers={"Content-Type": "application/x-ndjson"},
        )
        location = answer.headers["location"]
        self.wait(client, location, states=("running",))
        deadline = time.monotonic() + 30
        while client.get(location).json()["done"] < 1 and time.monotonic() < deadline:
            time.sleep(0.05)
        cancelled = client.delete(location)
        assert cancelled.status_code == 200 and cancelled.json()["state"] == "cancelled"
        assert cancelled.json()["done"] == 1
        records = [json.loads(line) for line in client.get(f"{location}/results").iter_lines()]
        assert [r["id"] for r in records] == ["quick"]

    def test_results_stream_as_the_batch_runs(self, client):
        slow = json.loads(slow_request(500))
        lines = [json.dumps(dict(slow, id=n)) for n in range(3)]
        answer = client.post(
            "/v1/batches",
            content="\n".join(lines),
            headers={"Content-Type": "application/x-ndjson"},
        )
        location = answer.headers["location"]
        seen = []
        with client.stream("GET", f"{location}/results") as stream:
            for line in stream.iter_lines():
                seen.append((json.loads(line)["id"], client.get(location).json()["state"]))
        assert [n for n, _ in seen] == [0, 1, 2]
        assert seen[0][1] in ("running", "done")
        assert client.get(location).json()["state"] == "done"

    def test_bad_batches_get_their_problems(self, client):
        assert_problem(
            client.post("/v1/batches", content=b"{}", headers={"Content-Type": "text/plain"}),
            415,
            "unsupported-media-type",
        )
        assert_problem(client.get("/v1/batches/0123"), 404, "not-found")
        assert_problem(client.get("/v1/batches/../../etc/results"), 404, "not-found")
        assert_problem(client.delete(f"/v1/batches/{'0' * 32}"), 404, "not-found")
        assert_problem(
            client.post(
                "/v1/batches",
                params={"time_limit": "1"},
                content=b"{}",
                headers={"Content-Type": "application/x-ndjson"},
            ),
            400,
            "invalid-parameter",
        )


class TestServiceSurface:
    def test_probes(self, client):
        assert client.get("/healthz").json() == {"status": "alive"}
        ready = client.get("/readyz").json()
        assert ready["status"] == "ready" and len(ready["workers"]) == 2

    def test_unknown_paths_and_methods_are_problems(self, client):
        assert_problem(client.get("/v2/pack"), 404, "not-found")
        assert_problem(client.get("/v1/pack"), 405, "method-not-allowed")

    def test_request_ids_are_kept_or_made(self, client, service):
        given = client.get("/healthz", headers={"X-Request-Id": "order-4711.a"})
        assert given.headers["x-request-id"] == "order-4711.a"
        made = client.get(
            "/healthz", headers={"X-Request-Id": "no spaces \u00e9".encode("latin-1")}
        )
        assert len(made.headers["x-request-id"]) == 32
        time.sleep(0.2)  # the log line follows the answer
        lines = [r for r in service.log_records() if r.get("request_id") == "order-4711.a"]
        assert lines and lines[-1]["path"] == "/healthz" and lines[-1]["status"] == 200
        assert {"time", "level", "method", "duration_ms"} <= set(lines[-1])

    def test_metrics_count_requests_packings_and_latencies(self, client):
        client.post("/v1/pack", content=EXAMPLE_REQUEST)
        client.post("/v1/pack", content=b"{")
        text = client.get("/metrics").text
        assert 'stowvex_http_requests_total{method="POST",route="/v1/pack",status="200"}' in text
        assert 'stowvex_http_requests_total{method="POST",route="/v1/pack",status="400"}' in text
        assert 'stowvex_http_request_duration_seconds_bucket{le="0.025",route="/v1/pack"}' in text
        assert 'stowvex_packings_total{outcome="packed"}' in text
        for name in ("stowvex_timeouts_total", "stowvex_queue_depth", "stowvex_workers 2.0"):
            assert name in text

    def test_the_openapi_document_is_valid_and_lists_every_route(self, client):
        validate = pytest.importorskip("openapi_spec_validator").validate
        document = client.get("/openapi.json").json()
        validate(document)
        assert {
            "/v1/pack",
            "/v1/check",
            "/v1/validate",
            "/v1/render",
            "/v1/batches",
            "/v1/batches/{job}",
            "/v1/batches/{job}/results",
            "/v1/catalogues/{name}",
            "/healthz",
            "/readyz",
            "/metrics",
        } == set(document["paths"])

    def test_the_docs_page_loads_only_the_services_own_files(self, client):
        page = client.get("/docs")
        assert page.status_code == 200 and "SwaggerUIBundle" in page.text
        assert "http" not in page.text.replace('"/openapi.json"', "")
        for asset in ("swagger-ui.css", "swagger-ui-bundle.js", "favicon-32x32.png"):
            answer = client.get(f"/docs/{asset}")
            assert answer.status_code == 200 and len(answer.content) > 500
        assert_problem(client.get("/docs/index.html"), 404, "not-found")
