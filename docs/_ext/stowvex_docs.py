"""Sphinx additions of the stowvex documentation: code examples whose output
is produced by running them while the documentation is built, and no
constructor signature for the classes that cannot be constructed."""

import re
import subprocess
import sys
from pathlib import Path
from typing import Any, ClassVar

from docutils import nodes
from docutils.parsers.rst import directives
from sphinx.util.docutils import SphinxDirective

ROOT = Path(__file__).resolve().parents[2]


class PythonRun(SphinxDirective):
    """Shows a piece of Python code and what it prints, run from the project
    root by the interpreter that builds the documentation. A failing run fails
    the build.

    Options: ``output`` names the language of the output block (default
    ``text``); ``hide-code`` shows the output alone."""

    has_content = True
    option_spec: ClassVar[dict[str, Any]] = {
        "output": directives.unchanged,
        "hide-code": directives.flag,
    }

    def run(self):
        code = "\n".join(self.content) + "\n"
        proc = subprocess.run(
            [sys.executable, "-c", code], cwd=ROOT, capture_output=True, text=True, timeout=300
        )
        if proc.returncode != 0:
            raise self.error(f"the example failed:\n{proc.stderr}")
        shown = []
        if "hide-code" not in self.options:
            source = nodes.literal_block(code, code)
            source["language"] = "python"
            shown.append(source)
        output = nodes.literal_block(proc.stdout, proc.stdout)
        output["language"] = self.options.get("output", "text")
        shown.append(output)
        return shown


# The stub gives the result classes this constructor so that type checkers
# refuse arguments; calling them raises TypeError.
NO_CONSTRUCTOR = re.compile(r"\(\*args: [\w.~]*Never, \*\*kwargs: [\w.~]*Never\)")


def hide_missing_constructor(app, what, name, obj, options, signature, return_annotation):
    if what == "class" and signature and NO_CONSTRUCTOR.fullmatch(signature):
        return "", return_annotation
    return None


def setup(app):
    app.connect("autodoc-process-signature", hide_missing_constructor)
    app.add_directive("python-run", PythonRun)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
