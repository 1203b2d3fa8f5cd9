"""The benchmark report's inputs and outputs (no timing here: figures are synthetic)."""

import struct
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))
report = pytest.importorskip("report")


@pytest.mark.parametrize("ratio, target, higher, expected", [
    (0.23, 0.25, False, "yes"),
    (0.25, 0.25, False, "yes"),
    (0.47, 0.30, False, "**no**"),
    (0.90, 0.85, True, "yes"),
    (0.49, 0.85, True, "**no**"),
    (5.00, None, False, "—"),
])
def test_verdict(ratio, target, higher, expected):
    assert report.verdict(ratio, target, higher) == expected


def test_every_measured_call_runs():
    # A row whose inputs went stale would only fail inside `make bench`.
    rows = report.single_rows(report.Fixture())
    assert len({entry for entry, *_ in rows}) == len(rows) == 10
    for entry, entry_fn, floor, floor_fn, _ in rows:
        entry_fn()
        floor_fn()


def synthetic(parallel):
    single = [
        {"entry": "a_call", "ns": 3000.0, "floor": "sign", "floor_ns": 12000.0, "ratio": 0.25, "target": 0.25},
        {"entry": "b_call", "ns": 6000.0, "floor": "sign", "floor_ns": 12000.0, "ratio": 0.5, "target": 0.3},
        {"entry": "c_call", "ns": 900.0, "floor": "sha", "floor_ns": 300.0, "ratio": 3.0, "target": None},
    ]
    names = ["sign_all", "py_prepare_all_orders", "pynacl_threads", "pynacl_one", "sign_loop", "prepare_loop"]
    batches = [{"n": n, **{name: 1000.0 * (i + 1) * n ** 0.1 for i, name in enumerate(names)}}
               for n in report.BATCH_SIZES]
    derived = {"sign_all_vs_cores": 0.9, "prepare_all_per_order": 1.1, "prepare_all_vs_one_call": 0.95,
               "pynacl_parallel": parallel, "sign_all_vs_pynacl_threads": 0.9, "order_id_vs_sign": 0.06,
               "gil_share": 0.8, "pynacl_utilisation": 1.8, "order_msg_len": 91}
    info = {"date": "2026-01-01 00:00 UTC", "commit": None, "cpu": "Test CPU", "cores": 2, "cpus": 2,
            "load_start": "0.00, 0.00, 0.00", "load_end": "0.00, 0.00, 0.00", "python": "3", "pynacl": "1",
            "platform": "test"}
    return info, single, batches, derived


@pytest.mark.parametrize("parallel, busy", [(0.95, False), (0.5, True)])
def test_markdown_tables(tmp_path, parallel, busy):
    info, single, batches, derived = synthetic(parallel)
    md = tmp_path / "results.md"
    report.write_markdown(md, info, single, batches, derived)
    text = md.read_text()
    entry_rows = [line for line in text.splitlines() if line.startswith("| `") and "_call`" in line]
    assert [row.split("|")[1].strip() for row in entry_rows] == ["`a_call`", "`b_call`", "`c_call`"]
    assert [row.rstrip(" |").rsplit("|", 1)[1].strip() for row in entry_rows] == ["yes", "**no**", "—"]
    batch_rows = [line for line in text.splitlines() if line[:3] == "| 1" and line.count("|") == 8]
    assert len(batch_rows) == len(report.BATCH_SIZES)
    assert ("machine was busy" in text) == busy
    assert "Test CPU" in text and "![Benchmark plot](results.png)" in text


@pytest.mark.parametrize("busy", [False, True])
def test_plot_is_a_png(tmp_path, busy):
    pytest.importorskip("matplotlib")
    info, single, batches, _ = synthetic(0.95)
    png = tmp_path / "results.png"
    report.write_plot(png, info, single, batches, busy=busy)
    data = png.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = struct.unpack(">II", data[16:24])
    assert width >= 1000 and height >= 500
