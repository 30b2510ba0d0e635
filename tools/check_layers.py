#!/usr/bin/env python3
"""Keeps the include graph pointing downward.

Each folder of the program sits on a floor; a file may include headers of its own
folder and of folders on lower floors only. Two folders on one floor know nothing of
each other. Headers listed as internal belong to their folder alone (its tests, the
fuzz targets and the benchmarks may reach them too). Tests, benchmarks, fuzz targets and tools stand outside and may
include anything.

Usage: check_layers.py [source root]    exit 1 and one line per offending include.
"""
import pathlib
import re
import sys

# Bottom up. The simulated service is a program of its own beside the client: it
# stands on the floors below it and nothing of the client includes it.
FLOORS = [
    ["platform", "libs/tether", "libs/glaze", "libs/chime", "libs/earshot", "vdec"],
    ["core"],
    ["control", "record", "ui/toolkit"],
    ["transport", "sim", "libs/rewind"],
    ["media", "session"],
    ["tasks", "wall"],
    ["ui"],
    ["playback"],
    ["mainwin"],
    ["app"],
]
OUTSIDE = {"tests", "bench", "fuzz", "tools"}

# What a folder keeps to itself: the parts behind its public face.
INTERNAL = {
    "core": ["core/worker_pool.h"],
    "control": ["control/sync_request_slot.h"],
    "media": ["media/audio_playback.h", "media/camera_sequence.h", "media/listening.h", "media/recording.h",
              "media/talkback.h", "media/video_session.h", "media/gl_video_presenter.h"],
    "vdec": ["vdec/ffmpeg_decoder.h", "vdec/handle_registry.h", "vdec/picture_copy.h"],
    "libs/chime": ["libs/chime/qt_output.h"],
    "libs/glaze": ["libs/glaze/text_raster.h", "libs/glaze/yuv_blend.h"],
    "libs/tether": ["libs/tether/link.h"],
    "libs/rewind": ["libs/rewind/recording_reader.h", "libs/rewind/play_session.h", "libs/rewind/mp4_export.h"],
    "sim": ["sim/forward_context.h", "sim/forwarding_service.h", "sim/proxy_endpoint.h"],
}
# Tests of a folder live under tests/<name>.
TESTS_OF = {"libs/chime": "tests/audio", "libs/glaze": "tests/media", "libs/tether": "tests/tether", "libs/rewind": "tests/rewind"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path, folders):
    """The longest folder that holds `path` (ui/toolkit before ui)."""
    best = None
    for folder in folders:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def check(root):
    floor = {folder: level for level, folders in enumerate(FLOORS) for folder in folders}
    folders = list(floor) + sorted(OUTSIDE)
    internal_owner = {header: owner for owner, headers in INTERNAL.items() for header in headers}
    problems = []
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".h", ".cpp") or not source.is_file():
            continue
        relative = source.relative_to(root).as_posix()
        if relative.startswith("build") or "/build" in relative.split("/", 1)[0]:
            continue
        home = folder_of(relative, folders)
        if home is None:
            continue
        text = source.read_text(encoding="utf-8", errors="replace")
        for line_number, target in ((text.count("\n", 0, m.start()) + 1, m.group(1)) for m in INCLUDE.finditer(text)):
            there = folder_of(target, folders)
            if there is None:
                continue  # generated headers, third-party paths
            where = f"{relative}:{line_number}: includes {target}"
            owner = internal_owner.get(target)
            if (owner and home != owner and home not in ("fuzz", "bench")
                    and not relative.startswith(TESTS_OF.get(owner, "tests/" + owner) + "/")):
                problems.append(f"{where}, which is internal to {owner}/")
            if home in OUTSIDE:
                continue
            if there in OUTSIDE:
                problems.append(f"{where}, which belongs to {there}/, outside the program")
            elif there != home and floor[there] >= floor[home]:
                relation = "the same floor as" if floor[there] == floor[home] else "a floor above"
                problems.append(f"{where}: {there}/ is on {relation} {home}/")
    return problems


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the layer order (tools/check_layers.py)")
        return 1
    print("layers: every include points downward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
