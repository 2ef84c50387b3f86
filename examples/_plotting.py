"""What the plotting examples share: matplotlib drawing to files only, when it is installed.

The examples import it from their own folder, so that they run from anywhere.
"""

import pathlib


def pyplot():
    """matplotlib.pyplot drawing to files only (no window), or None, after saying so, when
    matplotlib is not installed."""
    try:
        import matplotlib
    except ImportError:
        print("matplotlib is not installed: no plot drawn (pip install matplotlib)")
        return None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


def save_dated(plt, fig, path: pathlib.Path) -> None:
    """Write a figure with dates along x to `path` (its folder made as needed) and close it."""
    fig.autofmt_xdate()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=100)
    plt.close(fig)
