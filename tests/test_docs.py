"""Every example in the user guide and the README runs and prints what the page says.

Interactive blocks (```pycon, or any block of `>>>` lines) run as doctests, one namespace per
page so that later blocks build on earlier ones, as a reader's session would. Plain ```python
blocks are executed too (their output is not shown on the page, so only failures count).
"""

import doctest
import pathlib
import re

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
PAGES = sorted((ROOT / "docs").glob("*.md")) + [ROOT / "README.md"]
FENCE = re.compile(r"^```(\w*)[^\n]*\n(.*?)^```\s*$", re.S | re.M)
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
# NumPy's defaults, stated here so that a test run elsewhere that changed them cannot leak in
PRINT_OPTIONS = dict(precision=8, threshold=1000, edgeitems=3, linewidth=75, suppress=False,
                     nanstr="nan", infstr="inf", sign="-", floatmode="maxprec", legacy=False)


def blocks(page: pathlib.Path) -> list[tuple[str, int, str]]:
    """(language, first line number, text) of every fenced block of a page."""
    text = page.read_text(encoding="utf-8")
    return [(m.group(1), text.count("\n", 0, m.start(2)) + 1, m.group(2)) for m in FENCE.finditer(text)]


def doctest_blocks(page):
    return [(line, body) for lang, line, body in blocks(page)
            if lang == "pycon" or body.lstrip().startswith(">>>")]


def script_blocks(page):
    return [(line, body) for lang, line, body in blocks(page)
            if lang == "python" and not body.lstrip().startswith(">>>")]


def page_id(page):
    return str(page.relative_to(ROOT))


class TestGuide:
    @pytest.mark.parametrize("name", ["index", "ellipsoid", "time", "bodies", "tle", "frames", "geodesy"])
    def test_page_exists_with_examples(self, name):
        page = ROOT / "docs" / f"{name}.md"
        assert page.is_file()
        assert doctest_blocks(page), f"{page_id(page)} shows no runnable example"

    def test_links_point_at_files(self):
        # relative links between pages, to examples and to the README must not dangle
        for page in PAGES:
            for target in re.findall(r"\]\(([^)#:]+)(?:#[^)]*)?\)", page.read_text(encoding="utf-8")):
                assert (page.parent / target).exists(), f"{page_id(page)} links to missing {target}"


@pytest.mark.parametrize("page", [p for p in PAGES if doctest_blocks(p)], ids=page_id)
def test_interactive_examples(page):
    examples = doctest_blocks(page)
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    globs = {"__name__": "__docs__"}
    failures = []
    with np.printoptions(**PRINT_OPTIONS):
        for line, body in examples:
            test = parser.get_doctest(body, globs, page_id(page), str(page), line)
            test.globs = globs          # get_doctest copies; one session per page
            report = []
            result = runner.run(test, out=report.append, clear_globs=False)
            if result.failed:
                failures.append("".join(report))
    assert not failures, "\n".join(failures)


@pytest.mark.parametrize("page", [p for p in PAGES if script_blocks(p)], ids=page_id)
def test_script_examples(page):
    examples = script_blocks(page)
    with np.printoptions(**PRINT_OPTIONS):
        for line, body in examples:
            code = compile("\n" * (line - 1) + body, str(page), "exec")
            exec(code, {"__name__": "__docs__"})
