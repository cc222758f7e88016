# Sphinx configuration of the stowvex documentation (built by `make docs`).
import importlib.metadata
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent / "_ext"))

project = "stowvex"
author = "The stowvex developers"
copyright = "the stowvex developers"
release = importlib.metadata.version("stowvex")
version = release

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "stowvex_docs",
]
source_suffix = {".md": "markdown"}
exclude_patterns = ["_build"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

# autodoc (Sphinx 9 and later) reads the extension module stowvex from its
# stub, stowvex.pyi, installed beside it, which carries the types and the
# module's docstrings.
autodoc_member_order = "bysource"
autodoc_preserve_defaults = True
autodoc_default_options = {"members": True, "undoc-members": True, "special-members": "__len__"}

html_theme = "furo"
html_title = f"stowvex {release}"
