"""The varlobooks Python package against the real module and modeler.

Run by ctest with the build's package on PYTHONPATH and MODELER set to the
build's program."""

import array
import json
import os
import struct
import subprocess
import threading

import pytest

import varlobooks

MODELER = os.environ["MODELER"]
SOURCE = os.environ["SOURCE_DIR"]
COVERS = os.path.join(SOURCE, "examples", "covers")
BOX = ((0, 0, 0), (1, 0.5, 0.3))


def modeler(*args):
    return subprocess.run([MODELER, *args], capture_output=True, text=True, check=False)


def flat(points):
    return [float(v) for row in points for v in row]


def bits(values):
    return struct.pack("<%dd" % len(values), *values)


@pytest.fixture(scope="module")
def fill_json(tmp_path_factory):
    out = tmp_path_factory.mktemp("fill") / "shelf.json"
    run = modeler("fill", "--box", "0,0,0:1,0.5,0.3", "--seed", "0", "--set", "Type=Both",
                  "--set", "Rotation=8", "--images", COVERS, "-o", str(out))
    assert run.returncode == 0, run.stderr
    return json.loads(out.read_text()), run.stdout


class TestFillAgreesWithModeler:
    def test_points_books_and_summary_are_modelers_to_the_bit(self, fill_json):
        document, printed = fill_json
        shelf = varlobooks.fill(box=BOX, seed=0, Type="Both", Rotation=8, images=COVERS)
        assert bits(flat(shelf.points)) == bits(flat(document["points"]))
        assert len(shelf.books) == shelf.summary.books
        assert shelf.summary.line + "\n" == printed.splitlines(True)[0]
        assert shelf.summary.textured_books > 0
        surfaces = shelf.surfaces
        polygons = shelf.polygons
        corners = shelf.corners
        for i, polygon in enumerate(document["polygons"]):
            surface, first, count = (int(v) for v in polygons[i])
            assert surfaces[surface] == polygon["surface"]
            assert [int(c) for c in corners[first:first + count]] == polygon["points"]

    def test_saved_and_in_memory_exports_are_modelers_bytes(self, fill_json, tmp_path):
        shelf = varlobooks.fill(box=BOX, seed=0, Type="Both", Rotation=8, images=COVERS)
        shelf.save(str(tmp_path / "a.json"), str(tmp_path / "a.glb"))
        ours = json.loads((tmp_path / "a.json").read_text())
        assert ours == fill_json[0]
        files = shelf.export("a.glb")
        assert list(files) == ["a.glb"]
        assert files["a.glb"] == (tmp_path / "a.glb").read_bytes()
        obj = shelf.export("shelf.obj")
        assert list(obj)[0] == "shelf.obj" and "shelf.mtl" in obj
        assert any(name.startswith("shelf_covers/") for name in obj)

    def test_the_session_text_replays_to_the_same_scene(self, tmp_path):
        shelf = varlobooks.fill(box=BOX, seed=5, MaxSize=0.05, edits={"Random Front": 0.3})
        session = tmp_path / "again.session"
        session.write_text(shelf.text)
        run = modeler("run", str(session), "-o", str(tmp_path / "again.json"))
        assert run.returncode == 0, run.stderr
        again = json.loads((tmp_path / "again.json").read_text())
        assert bits(flat(again["points"])) == bits(flat(shelf.points))


class TestArrays:
    def test_books_hold_triangles_of_their_own_vertices(self):
        shelf = varlobooks.fill(box=BOX, seed=3, images=COVERS)
        for book in shelf.books:
            n = len(book.positions)
            assert book.normals.shape == (n, 3) and book.uvs.shape == (n, 2)
            for primitive in book.primitives:
                assert len(primitive.indices) % 3 == 0
                assert int(primitive.indices.max()) < n
        images = [m.image for m in shelf.materials if m.image]
        assert images and bytes(images[0].data[:4]) in (b"\x89PNG", b"\xff\xd8\xff\xe0")

    def test_without_numpy_arrays_are_shaped_memoryviews(self, monkeypatch):
        monkeypatch.setattr(varlobooks, "_numpy", None)
        shelf = varlobooks.fill(box=BOX, seed=0)
        points = shelf.points
        assert isinstance(points, memoryview)
        assert points.format == "d" and points.shape == (shelf.summary.points, 3)
        assert shelf.books[0].primitives[0].indices.format == "I"

    def test_a_finished_sessions_arrays_are_views_that_keep_it_alive(self):
        points = varlobooks.fill(box=BOX, seed=0).points  # the session is let go here
        expected = varlobooks.fill(box=BOX, seed=0).points
        assert bits(flat(points)) == bits(flat(expected))
        assert not points.flags["OWNDATA"]

    def test_a_session_in_use_hands_out_copies(self):
        with varlobooks.Session() as s:
            s.play("activate\npress 0 0 0\nmove 1 0.5 0.3")
            before = s.points.copy()
            held = s.points
            s.play("set MaxSize 0.05")
            assert (held == before).all()  # unchanged: a copy
            assert len(s.points) != len(before)


class TestErrors:
    def test_every_failure_raises_with_the_librarys_message(self, tmp_path):
        with pytest.raises(varlobooks.VarlobooksError, match=r"^page:2: expected an action") as e:
            varlobooks.Session().play("activate\nfly 1 2 3", file="page")
        assert e.value.status == "session invalid"
        with pytest.raises(varlobooks.VarlobooksError, match=r"expected a panel label") as e:
            varlobooks.fill(box=BOX, Colour="red")
        with pytest.raises(varlobooks.VarlobooksError, match=r"finite") as e:
            varlobooks.fill(box=((0, 0, float("nan")), (1, 1, 1)))
        with pytest.raises(varlobooks.VarlobooksError, match=r"no-such\.so") as e:
            varlobooks.Module(str(tmp_path / "no-such.so"))
        assert e.value.status == "load failed"
        shelf = varlobooks.fill(box=BOX)
        with pytest.raises(varlobooks.VarlobooksError, match=r"cannot tell the format"):
            shelf.save(str(tmp_path / "shelf.xyz"))
        (tmp_path / "taken.json").mkdir()
        with pytest.raises(varlobooks.VarlobooksError, match=r"is a folder") as e:
            shelf.save(str(tmp_path / "fine.json"), str(tmp_path / "taken.json"))
        assert e.value.status == "write failed"
        assert not (tmp_path / "fine.json").exists()  # all or none
        with pytest.raises(varlobooks.VarlobooksError, match=r"finished"):
            shelf.play("end keep")
        with pytest.raises(varlobooks.VarlobooksError, match=r"NUL"):
            varlobooks.Session().play("activate\0")

    def test_an_action_that_cannot_be_done_leaves_the_ones_before(self):
        s = varlobooks.Session()
        with pytest.raises(varlobooks.VarlobooksError, match=r"^session:4: ") as e:
            s.play("activate\npress 0 0 0\nmove 1 0.5 0.3\ndrag 99 1 1 1")
        assert e.value.status == "action failed"
        assert s.summary.books > 0
        assert s.text.splitlines() == ["activate", "press 0 0 0", "move 1 0.5 0.3"]


class TestThreads:
    def test_sessions_on_two_threads_give_the_bytes_of_one_after_the_other(self):
        seeds = [7, 1000, 7, 1000]

        def glb(seed):
            return varlobooks.fill(box=((0, 0, 0), (3, 0.5, 0.3)), seed=seed).export("s.glb")["s.glb"]

        alone = [glb(seed) for seed in seeds]
        assert alone[0] != alone[1]
        together = [None] * len(seeds)

        def work(i):
            together[i] = glb(seeds[i])

        threads = [threading.Thread(target=work, args=(i,)) for i in range(len(seeds))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert together == alone


def test_module_reports_its_version_and_servers():
    module = varlobooks.Module()
    assert module.version.startswith("varlobooks ")
    assert ("MeshEditTool", "varlobooks") in module.servers
    assert varlobooks.export_formats() == ["json", "obj", "gltf", "glb"]
    assert varlobooks.host_version() in module.version
    session = varlobooks.Session(module=module)
    module.close()  # the session keeps it loaded
    session.fill(box=BOX, seed=2)
    assert session.summary.books > 0
    session.close()


def test_warnings_and_reports_reach_the_callbacks(tmp_path):
    warnings, reports = [], []
    (tmp_path / "empty").mkdir()
    s = varlobooks.Session(images=str(tmp_path / "empty"), on_warning=warnings.append,
                           on_report=reports.append)
    s.play("activate\npress 0 0 0\nmove 1e39 0.5 0.3")
    assert any("beyond single precision" in w for w in warnings), warnings
    assert s.warnings == warnings
    assert any(r.startswith("session:2:") for r in reports), reports
