#!/usr/bin/env python3
"""Makes the 3D head window's head: windows/scene3d/models/head.x and its
texture head_skin.png.

A head shaped from a deformed ellipsoid (skull, narrower jaw, chin, nose,
brow, ears) facing -z, the viewer, with hair on top and at the back and a
painted face, so that which way it faces shows at a glance. It is modelled
around (0, -1500, 300): the loader shifts every vertex by (0, 1500, -300),
which brings it to the origin.

    tools/make_head_model.py [output folder]   (default windows/scene3d/models)
"""
import math
import os
import struct
import sys
import zlib

CENTRE = (0.0, -1500.0, 300.0)
RINGS = 40          # from the crown to the neck
SEGMENTS = 48       # around the vertical axis
TEXTURE = 256
SIZE = 1.5          # the head's size against the window's fixed camera
SKIN = (226, 176, 142)
HAIR = (74, 48, 28)


def bump(value, centre, sigma):
    d = (value - centre) / sigma
    return math.exp(-0.5 * d * d)


def radius(theta, phi):
    """The head's surface along direction (theta from the crown, phi from the face)."""
    up = math.cos(theta)                 # 1 crown .. -1 bottom
    front = math.cos(phi)                # 1 face .. -1 back of the head
    side = math.sin(phi)
    rx, ry, rz = 330.0, 430.0, 385.0
    if up < 0.0:                         # jaw narrower, neck pulled in at the back
        rx *= 1.0 - 0.28 * (-up) ** 1.4
        if front < 0.0:
            rz *= 1.0 - 0.35 * (-up) * (-front)
    if front < 0.0:
        rz *= 1.06                       # the back of the skull
    s = math.sin(theta)
    d = (s * side, up, -s * front)
    base = 1.0 / math.sqrt((d[0] / rx) ** 2 + (d[1] / ry) ** 2 + (d[2] / rz) ** 2)
    eq = math.pi / 2
    wrapped = math.atan2(side, front)    # -pi..pi, 0 at the face
    extra = 0.0
    extra += 85.0 * bump(wrapped, 0.0, 0.16) * bump(theta, eq + 0.12, 0.2)              # nose
    extra += 22.0 * bump(theta, eq - 0.36, 0.07) * bump(wrapped, 0.0, 0.45)             # brow
    extra += 30.0 * bump(theta, eq + 0.9, 0.16) * bump(wrapped, 0.0, 0.28)              # chin
    extra -= 24.0 * bump(theta, eq - 0.2, 0.08) * (bump(wrapped, 0.38, 0.1) + bump(wrapped, -0.38, 0.1))  # eyes
    extra += 14.0 * bump(theta, eq + 0.55, 0.05) * bump(wrapped, 0.0, 0.2)              # lips
    for ear in (math.pi / 2, -math.pi / 2):
        extra += 62.0 * bump(wrapped, ear, 0.11) * bump(theta, eq + 0.05, 0.22)        # ears
    return (base + extra) * SIZE


def build_mesh():
    positions, uvs, faces = [], [], []
    for i in range(RINGS + 1):
        theta = math.pi * 0.06 + (math.pi * 0.88) * i / RINGS   # open at the neck, closed by a cap
        for j in range(SEGMENTS + 1):
            phi = -math.pi + 2.0 * math.pi * j / SEGMENTS
            r = radius(theta, phi)
            s = math.sin(theta)
            x = r * s * math.sin(phi)
            y = r * math.cos(theta)
            z = -r * s * math.cos(phi)
            positions.append((CENTRE[0] + x, CENTRE[1] + y, CENTRE[2] + z))
            uvs.append((j / SEGMENTS, theta / math.pi))
    row = SEGMENTS + 1
    for i in range(RINGS):
        for j in range(SEGMENTS):
            a, b = i * row + j, i * row + j + 1
            c, d = a + row, b + row
            # Clockwise seen from outside: Direct3D's front faces.
            faces.append((a, b, d))
            faces.append((a, d, c))
    # Caps: the crown and the neck, each a fan around a centre vertex.
    for ring, theta, flip in ((0, math.pi * 0.0, False), (RINGS, math.pi, True)):
        r = radius(theta if theta > 0 else 1e-3, 0.0)
        y = r * (1.0 if theta == 0 else -0.72)
        centre = len(positions)
        positions.append((CENTRE[0], CENTRE[1] + y, CENTRE[2] + (0.0 if theta == 0 else 60.0)))
        uvs.append((0.5, 0.0 if theta == 0 else 1.0))
        for j in range(SEGMENTS):
            a, b = ring * row + j, ring * row + j + 1
            faces.append((centre, b, a) if flip else (centre, a, b))
    return positions, uvs, [outward(positions, f) for f in faces]


def outward(positions, face):
    """The face wound so that (b - a) x (c - a) points away from the head's
    centre, which is how the loader finds a face's outside."""
    a, b, c = (positions[i] for i in face)
    u = [b[k] - a[k] for k in range(3)]
    v = [c[k] - a[k] for k in range(3)]
    n = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
    mid = [(a[k] + b[k] + c[k]) / 3.0 - CENTRE[k] for k in range(3)]
    if sum(n[k] * mid[k] for k in range(3)) < 0.0:
        return (face[0], face[2], face[1])
    return face


def write_x(path, positions, uvs, faces):
    out = ["xof 0303txt 0032", "",
           "// Made by tools/make_head_model.py: a head facing -z (the viewer),",
           "// modelled around (0, -1500, 300). Hair, eyes and mouth are in the texture.", "",
           "Material Skin {", " 1.000000;1.000000;1.000000;1.000000;;", " 6.000000;",
           " 0.050000;0.050000;0.050000;;", " 0.300000;0.300000;0.300000;;",
           ' TextureFilename { "head_skin.png"; }', "}", "",
           "Frame HeadFrame {", " Mesh Head {", f"  {len(positions)};"]
    for n, (x, y, z) in enumerate(positions):
        out.append(f"  {x:.3f};{y:.3f};{z:.3f};" + ("," if n + 1 < len(positions) else ";"))
    out.append(f"  {len(faces)};")
    for n, (a, b, c) in enumerate(faces):
        out.append(f"  3;{a},{b},{c};" + ("," if n + 1 < len(faces) else ";"))
    out.append(f"  MeshMaterialList {{ 1; {len(faces)}; " + ",".join("0" for _ in faces) + ";; { Skin } }")
    out.append(f"  MeshTextureCoords {{ {len(uvs)};")
    for n, (u, v) in enumerate(uvs):
        out.append(f"   {u:.5f};{v:.5f};" + ("," if n + 1 < len(uvs) else ";"))
    out.append("  }")
    out.append(" }")
    out.append("}")
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(out) + "\n")


def texture():
    """The skin with hair, eyes, brows and mouth, in the mesh's (u, v)."""
    def ellipse(u, v, cu, cv, ru, rv):
        return ((u - cu) / ru) ** 2 + ((v - cv) / rv) ** 2
    rows = []
    for py in range(TEXTURE):
        v = (py + 0.5) / TEXTURE
        line = bytearray()
        for px in range(TEXTURE):
            u = (px + 0.5) / TEXTURE
            away = abs(u - 0.5)                   # 0 at the face, 0.5 at the back
            colour = SKIN
            hairline = 0.23 + 0.22 * min(1.0, max(0.0, (away - 0.12) / 0.14))
            if away > 0.32:
                hairline = 0.62                   # the back of the head
            if v < hairline and not (0.2 < away < 0.3 and v > 0.36):   # ears stay skin
                colour = HAIR
            for eye in (0.5 - 0.0605, 0.5 + 0.0605):
                e = ellipse(u, v, eye, 0.445, 0.024, 0.016)
                if e < 1.0:
                    colour = (245, 245, 240)
                    if ellipse(u, v, eye, 0.447, 0.010, 0.012) < 1.0:
                        colour = (40, 70, 120)
                    if ellipse(u, v, eye, 0.447, 0.005, 0.006) < 1.0:
                        colour = (10, 10, 10)
                b = ellipse(u, v, eye, 0.414, 0.03, 0.006)
                if b < 1.0:
                    colour = HAIR
            if ellipse(u, v, 0.5, 0.675, 0.042, 0.011) < 1.0:
                colour = (170, 60, 60)
            line += bytes(colour)
        rows.append(bytes(line))
    return rows


def write_png(path, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", TEXTURE, len(rows), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "windows", "scene3d", "models")
    positions, uvs, faces = build_mesh()
    write_x(os.path.join(folder, "head.x"), positions, uvs, faces)
    write_png(os.path.join(folder, "head_skin.png"), texture())


if __name__ == "__main__":
    main()
