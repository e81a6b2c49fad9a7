"""Compares two window_boxes outputs, the Linux build's first: every control in both, with its
rectangle and its caption's ink box within 2 px, no one-line caption clipped by more than on
Linux, and no caption's ink much paler than on Linux. Prints the differences of each control
that has a caption or has moved."""
import json
import sys

TOLERANCE = 2
# How much lighter, in grey levels, the darkest pixel of a caption may be than on Linux: the
# rasterisers shade differently, but a face too thin for its size shows as grey, not black.
PALER = 80
# The clock's text follows each system's own date and time formats.
OWN_TEXT = {"StatusPanel0"}


def read(path):
    with open(path, encoding="utf-8") as f:
        return {c["name"]: c for c in map(json.loads, filter(str.strip, f))}


def delta(a, b):
    """Largest difference between two [x, y, w, h] boxes' edges."""
    def edges(r):
        return (r[0], r[1], r[0] + r[2], r[1] + r[3])
    return max(abs(p - q) for p, q in zip(edges(a), edges(b)))


def clipped(control):
    """How many pixels of a one-line caption's ink width do not show."""
    return max(0, control["drawn"] - control["ink"][2]) if "drawn" in control else 0


def compare(name, a, b):
    """The row to print for one control, and its faults."""
    faults = []
    rect = delta(a["rect"], b["rect"])
    if rect > TOLERANCE:
        faults.append(f"rectangle {b['rect']}, on Linux {a['rect']}")
    if name in OWN_TEXT or ("ink" not in a and "ink" not in b):
        return (f"{name:<20} {rect:>4}" if rect else None), faults
    if ("ink" in a) != ("ink" in b):
        return f"{name:<20} {rect:>4}", faults + ["caption shows in one build only"]
    ink = delta(a["ink"], b["ink"])
    if ink > TOLERANCE:
        faults.append(f"ink {b['ink']}, on Linux {a['ink']}")
    if clipped(b) > clipped(a) + TOLERANCE:
        faults.append(f"caption clipped by {clipped(b)} px, on Linux {clipped(a)}")
    if b["darkest"] > a["darkest"] + PALER:
        faults.append(f"caption pale ({b['darkest']}, on Linux {a['darkest']})")
    return (f"{name:<20} {rect:>4} {ink:>4}  {clipped(a):>3} {clipped(b):>3}  "
            f"{a['darkest']:>3} {b['darkest']:>3}  "
            f"{a['font']}{' bold' if a['bold'] else ''} | "
            f"{b['font']}{' bold' if b['bold'] else ''}"), faults


def main(linux_path, windows_path):
    linux, windows = read(linux_path), read(windows_path)
    faults = [f"{name}: only in the {where} build"
              for names, where in ((linux.keys() - windows.keys(), "Linux"),
                                   (windows.keys() - linux.keys(), "Windows"))
              for name in sorted(names)]
    print(f"{'control':<20} {'rect':>4} {'ink':>4}  clipped  darkest  font (Linux | Windows)")
    for name in sorted(linux.keys() & windows.keys()):
        row, found = compare(name, linux[name], windows[name])
        if row:
            print(row)
        faults += [f"{name}: {fault}" for fault in found]
    for fault in faults:
        print("FAIL:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
