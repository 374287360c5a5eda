#!/usr/bin/python3
"""Checks the converter's output with clients nobody here wrote.

Builds the demo map (tiles and KAL list from the generator, the GMF file
from gmfkit pack), converts it with mosaiq and then checks:
  - xmllint finds every KML document well-formed;
  - GDAL's LIBKML vector driver: the root document holds no overlay of its
    own, each tile document one GroundOverlay whose icon is the image href
    and whose footprint is the tile's box;
  - GDAL's KML super-overlay raster driver on each tile document (a scratch
    copy whose href names a .png link to the same BMP, since that driver only
    follows .png/.jpg hrefs): the tile's box as extent, the image's size, and
    at the centre of an unrotated tile the pixel the BMP holds there; the
    union of all tiles' extents (gdalbuildvrt, to one of its pixels) equals
    the root's closing region;
  - GDAL's GeoJSON driver reads the footprints file of gmfkit with one
    feature per four-point tile;
  - GDAL's BMP driver reads the world files of gmfkit beside the extracted
    images: an unrotated tile's extent is its KML box, a rotated tile has
    rotation terms.

Exits 77 (reported by ctest as skipped) when xmllint or GDAL is missing.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SKIP = 77
NS = {"k": "http://earth.google.com/kml/2.1"}


def skip(reason):
    print(f"SKIPPED: {reason}")
    sys.exit(SKIP)


try:
    from osgeo import gdal, ogr
except ImportError:
    skip("GDAL's Python bindings are not installed (apt-get install python3-gdal gdal-bin)")
for tool in ("xmllint", "gdalbuildvrt"):
    if shutil.which(tool) is None:
        skip(f"{tool} is not installed (apt-get install libxml2-utils gdal-bin)")
gdal.UseExceptions()

failures = []
checks = 0


def check(cond, what):
    global checks
    checks += 1
    if not cond:
        failures.append(what)
        print(f"FAIL: {what}")


def close(a, b, eps=1e-7):
    return abs(a - b) <= eps


def box_of(parent, tag):
    """north, south, east, west (and rotation or None) of a box element."""
    box = parent.find(f".//k:{tag}", NS)
    vals = [float(box.find(f"k:{n}", NS).text) for n in ("north", "south", "east", "west")]
    rot = box.find("k:rotation", NS)
    return vals + [float(rot.text) if rot is not None else None]


def bmp_pixel(path, x, y):
    """(r, g, b) of pixel (x, y), y counted from the top, of a 24-bit BMP."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    assert bits == 24, "the demo tiles are 24-bit"
    stride = (width * 3 + 3) & ~3
    row = height - 1 - y if height > 0 else y
    b, g, r = data[offset + row * stride + 3 * x: offset + row * stride + 3 * x + 3]
    return (r, g, b), (width, abs(height))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sample", required=True, help="the demo map generator")
    ap.add_argument("--mosaiq", required=True)
    ap.add_argument("--gmfkit", required=True)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="gmfclient.")
    try:
        run_checks(args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)
    print(f"all {checks} client checks passed")


def run_checks(args, work):
    subprocess.run([args.sample, work], check=True, stdout=subprocess.DEVNULL)
    gmf = os.path.join(work, "sample.gmf")
    subprocess.run([args.gmfkit, "pack", os.path.join(work, "sample.kal"),
                    os.path.join(work, "tiles"), gmf], check=True, stdout=subprocess.DEVNULL)
    out = os.path.join(work, "kml")
    os.mkdir(out)
    root = os.path.join(out, "sample.kml")
    subprocess.run([args.mosaiq, gmf, "255", "384", "-1", "", "", out, root],
                   check=True, stdout=subprocess.DEVNULL)

    docs = sorted(f for f in os.listdir(out) if f.endswith(".kml") and f != "sample.kml")
    check(len(docs) > 0, "mosaiq wrote tile documents")

    # Well-formed XML, every document.
    for d in docs + ["sample.kml"]:
        r = subprocess.run(["xmllint", "--noout", os.path.join(out, d)], capture_output=True)
        check(r.returncode == 0, f"xmllint: {d} well-formed ({r.stderr.decode().strip()})")

    # Root document: links and closing region from the XML itself.
    root_xml = ET.parse(root).getroot()
    links = root_xml.findall(".//k:NetworkLink", NS)
    check(len(links) == len(docs), f"one network link per tile document ({len(links)}/{len(docs)})")
    regions = root_xml.findall("k:Document/k:Region", NS)
    check(len(regions) == 1, "one closing region in the root document")
    closing = box_of(regions[0], "LatLonAltBox")

    # LIBKML vector driver.
    drv = ogr.GetDriverByName("LIBKML")
    ds = drv.Open(root)
    overlays = 0
    for i in range(ds.GetLayerCount()):
        for feat in ds.GetLayer(i):
            if feat.GetFieldIndex("icon") >= 0 and feat.GetField("icon"):
                overlays += 1
    check(overlays == 0, "LIBKML: the root document shows no overlay of its own")
    ds = None

    tiles = []
    for d in docs:
        path = os.path.join(out, d)
        doc = ET.parse(path).getroot()
        href = doc.find(".//k:Icon/k:href", NS).text
        north, south, east, west, rot = box_of(doc, "LatLonBox")
        tiles.append((d, href, north, south, east, west, rot))
        ds = drv.Open(path)
        feats = [f for i in range(ds.GetLayerCount()) for f in ds.GetLayer(i)]
        check(len(feats) == 1, f"LIBKML: {d} holds one feature")
        if feats:
            f = feats[0]
            check(f.GetField("icon") == href, f"LIBKML: {d} icon is {href}")
            minx, maxx, miny, maxy = f.GetGeometryRef().GetEnvelope()
            check(all(map(close, (minx, maxx, miny, maxy), (west, east, south, north))),
                  f"LIBKML: {d} footprint is the tile's box")
        ds = None

    # Super-overlay raster driver, on scratch copies whose hrefs end in .png.
    scratch = os.path.join(work, "raster")
    os.mkdir(scratch)
    rasters = []
    for d, href, north, south, east, west, rot in tiles:
        image = os.path.join(out, href)
        link = os.path.join(scratch, href + ".png")
        os.symlink(image, link)
        copy = os.path.join(scratch, d)
        with open(os.path.join(out, d), encoding="utf-8") as f:
            text = f.read()
        with open(copy, "w", encoding="utf-8") as f:
            f.write(text.replace(f"<href>{href}</href>", f"<href>{href}.png</href>"))
        ds = gdal.Open(copy)
        gt = ds.GetGeoTransform()
        w, h = ds.RasterXSize, ds.RasterYSize
        extent = (gt[0], gt[0] + gt[1] * w, gt[3] + gt[5] * h, gt[3])
        check(all(map(close, extent, (west, east, south, north))),
              f"raster: {d} extent {extent} is the tile's box")
        (r, g, b), size = bmp_pixel(image, w // 2, h // 2)
        check((w, h) == size, f"raster: {d} size {w}x{h} is the image's {size}")
        if rot == 0:
            px = tuple(ds.GetRasterBand(i + 1).ReadRaster(w // 2, h // 2, 1, 1)[0] for i in range(3))
            check(px == (r, g, b), f"raster: {d} centre pixel {px} is the image's {(r, g, b)}")
        rasters.append(copy)
        ds = None

    vrt = os.path.join(scratch, "all.vrt")
    subprocess.run(["gdalbuildvrt", "-q", "-resolution", "highest", vrt] + rasters, check=True)
    ds = gdal.Open(vrt)
    gt = ds.GetGeoTransform()
    union = (gt[3], gt[3] + gt[5] * ds.RasterYSize, gt[0] + gt[1] * ds.RasterXSize, gt[0])
    # The mosaic snaps its extent to whole pixels of the finest tile, so it
    # may reach up to one such pixel beyond the tiles.
    pixel = max(abs(gt[1]), abs(gt[5]))
    check(all(close(a, b, pixel) for a, b in zip(union, closing[:4])),
          f"raster: union of the tiles {union} is the root's closing region {closing[:4]}")
    ds = None

    geojson = os.path.join(work, "sample.geojson")
    subprocess.run([args.gmfkit, "footprints", gmf, geojson], check=True,
                   stdout=subprocess.DEVNULL)
    ds = ogr.Open(geojson)
    check(ds is not None and ds.GetDriver().GetName() == "GeoJSON", "GeoJSON driver opens footprints")
    if ds is not None:
        n = ds.GetLayer(0).GetFeatureCount()
        check(n == len(docs), f"footprints: one feature per four-point tile ({n}/{len(docs)})")
    ds = None

    # World files beside the extracted images, read by GDAL's BMP driver.
    subprocess.run([args.gmfkit, "worldfile", gmf, out], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for d, href, north, south, east, west, rot in tiles:
        ds = gdal.Open(os.path.join(out, href))
        gt = ds.GetGeoTransform(can_return_null=True)
        check(gt is not None, f"world file: GDAL georeferences {href}")
        if gt is None:
            continue
        if rot == 0:
            w, h = ds.RasterXSize, ds.RasterYSize
            extent = (gt[0], gt[0] + gt[1] * w, gt[3] + gt[5] * h, gt[3])
            check(gt[2] == 0 and gt[4] == 0 and
                  all(map(close, extent, (west, east, south, north))),
                  f"world file: {href} extent {extent} is the tile's box")
        else:
            check(gt[2] != 0 and gt[4] != 0, f"world file: {href} is rotated ({gt})")
        ds = None

if __name__ == "__main__":
    main()
