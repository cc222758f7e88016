"""solve() reads a request the same whatever form its text takes: compact or
indented, with escapes or without, numbers written in any of their forms."""

import json

from hypothesis import given, settings
from hypothesis import strategies as st

import request_strategies
import stowvex

sizes = st.one_of(
    st.integers(1, 9),
    st.sampled_from([0.5, 1.25, 2.2, 3.0, 7.125, 1e-3]),
    st.floats(0.01, 9.0, allow_nan=False),
)


def number_forms(value):
    """The texts of one number that JSON reads as the same double."""
    forms = [
        json.dumps(value),
        repr(float(value)),
        f"{float(value):.17g}",
        f"{float(value):.20e}",
        f"{float(value) * 10:.17g}e-1",
    ]
    return [form for form in forms if float(form) == float(value)]


def with_numbers_written(text_of, request, choose):
    """The request's text with each number of an item or box written in a
    form that `choose` picks from its forms."""
    parts = []
    for name in ("items", "boxes"):
        elements = []
        for element in request[name]:
            members = []
            for key, value in element.items():
                if isinstance(value, (int, float)) and not isinstance(value, bool):
                    written = choose(
                        number_forms(value) if isinstance(value, float) else [json.dumps(value)]
                    )
                else:
                    written = text_of(value)
                members.append(f"{text_of(key)}: {written}")
            elements.append("{" + ", ".join(members) + "}")
        parts.append(f"{text_of(name)}: [" + ", ".join(elements) + "]")
    return "{" + ", ".join(parts) + "}"


def escaped(value):
    """A JSON string with every character written as an escape; any other
    value as it is."""
    if not isinstance(value, str):
        return json.dumps(value)
    return '"' + "".join(f"\\u{ord(c):04x}" for c in value) + '"'


@settings(max_examples=150, deadline=None)
@given(
    request_strategies.requests(
        sizes=sizes,
        weights=[0, 0.5, 1, 2.25, 6],
        rotations=["BestFit", "KeepFlat", "Never", "keep_flat"],
        max_items=12,
        max_boxes=3,
        max_box_side=12,
    ),
    st.randoms(use_true_random=False),
)
def test_every_form_of_a_request_text_gives_the_same_result(request, random):
    expected = stowvex.solve(json.dumps(request))
    forms = [
        json.dumps(request, separators=(",", ":")),
        json.dumps(request, indent=2),
        # Non-ASCII text and escapes, where the readers do not look and where they do.
        json.dumps({"note": 'caf\u00e9 "\\', **request}, ensure_ascii=False),
        json.dumps({**request, "note": "\u2603"}),
        with_numbers_written(json.dumps, request, random.choice),
        with_numbers_written(escaped, request, random.choice),
    ]
    for text in forms:
        assert stowvex.solve(text) == expected, text


def test_texts_the_readers_refuse_fail_alike_in_every_form():
    request = {"items": [{"ItemCode": "A", "Width": 1, "Length": "2", "Depth": 1}], "boxes": []}
    for text in (
        json.dumps(request),
        json.dumps(request, indent=1),
        json.dumps({**request, "note": "\u00e9"}, ensure_ascii=False),
    ):
        try:
            stowvex.solve(text)
        except RuntimeError as error:
            assert (
                str(error) == "[json.exception.type_error.302] type must be number, but is string"
            )
        else:
            raise AssertionError("expected a type error")
