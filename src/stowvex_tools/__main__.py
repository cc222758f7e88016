"""`python -m stowvex_tools`: the stowvex command."""

from .cli import run

run()
