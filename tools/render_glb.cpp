// Renders a .glb to a PNG with a small software rasterizer: a look at what
// a glTF viewer shows, on a machine without one. Textures are sampled
// nearest; light comes from the camera's side.
//
// Usage: render_glb IN.glb OUT.png [WIDTH HEIGHT] [AZIMUTH_DEGREES]
#include <stb/stb_image_write.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

namespace {

using Vec3 = std::array<double, 3>;

Vec3 sub(Vec3 a, Vec3 b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
double dot(Vec3 a, Vec3 b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vec3 cross(Vec3 a, Vec3 b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec3 normalize(Vec3 a) {
    const double l = std::sqrt(dot(a, a));
    return {a[0] / l, a[1] / l, a[2] / l};
}

const unsigned char *accessorData(const tinygltf::Model &m, int index) {
    const auto &a = m.accessors[index];
    const auto &v = m.bufferViews[a.bufferView];
    return m.buffers[v.buffer].data.data() + v.byteOffset + a.byteOffset;
}

// A mesh as the scene places it. Our files move nodes by translation
// alone (a book stands at its pivot): translations are summed down the
// tree; rotation and scale are not drawn.
struct Draw {
    const tinygltf::Mesh *mesh;
    Vec3 offset;
};

void collectDraws(const tinygltf::Model &m, int node, Vec3 offset, std::vector<Draw> &out) {
    const tinygltf::Node &n = m.nodes[node];
    if (n.translation.size() == 3) {
        for (int i = 0; i < 3; ++i)
            offset[i] += n.translation[i];
    }
    if (n.mesh >= 0) out.push_back({&m.meshes[n.mesh], offset});
    for (int child : n.children)
        collectDraws(m, child, offset, out);
}

// A camera on a circle around the scene's bounds, a little above them.
struct Camera {
    Vec3 eye, forward, right, up;
    double focal;
    int width, height;

    static Camera around(const tinygltf::Model &model, const std::vector<Draw> &draws, int width,
                         int height, double azimuth) {
        // The bounds of every position, to frame the camera.
        Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
        for (const Draw &draw : draws) {
            for (const auto &p : draw.mesh->primitives) {
                const auto &a = model.accessors[p.attributes.at("POSITION")];
                for (int i = 0; i < 3; ++i) {
                    lo[i] = std::min(lo[i], a.minValues[i] + draw.offset[i]);
                    hi[i] = std::max(hi[i], a.maxValues[i] + draw.offset[i]);
                }
            }
        }
        const Vec3 centre{(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
        const double radius = std::sqrt(dot(sub(hi, lo), sub(hi, lo))) / 2;
        Camera c;
        c.eye = {centre[0] + std::sin(azimuth) * radius * 1.9, centre[1] + radius * 0.45,
                 centre[2] + std::cos(azimuth) * radius * 1.9};
        c.forward = normalize(sub(centre, c.eye));
        c.right = normalize(cross(c.forward, {0, 1, 0}));
        c.up = cross(c.right, c.forward);
        c.focal = height * 1.4;
        c.width = width;
        c.height = height;
        return c;
    }

    // Screen x, y and depth z of p.
    void project(Vec3 p, double &x, double &y, double &z) const {
        const Vec3 d = sub(p, eye);
        z = dot(d, forward);
        x = width / 2.0 + focal * dot(d, right) / z;
        y = height / 2.0 - focal * dot(d, up) / z;
    }
};

struct Canvas {
    int width, height;
    std::vector<unsigned char> rgb;
    std::vector<double> depth;

    Canvas(int w, int h)
        : width(w),
          height(h),
          rgb(std::size_t(w) * h * 3, 235),
          depth(std::size_t(w) * h, std::numeric_limits<double>::infinity()) {}
};

// A primitive's lists as the rasterizer reads them.
struct Primitive {
    const float *positions, *normals, *uvs;  // uvs: null without TEXCOORD_0
    std::vector<uint32_t> indices;           // 16 or 32 bits, read as 32
    const tinygltf::PbrMetallicRoughness *material;
    const tinygltf::Image *texture;  // null: the base colour alone

    Primitive(const tinygltf::Model &model, const tinygltf::Primitive &p) {
        auto floats = [&](int accessor) {
            return reinterpret_cast<const float *>(accessorData(model, accessor));
        };
        positions = floats(p.attributes.at("POSITION"));
        normals = floats(p.attributes.at("NORMAL"));
        const auto uvAt = p.attributes.find("TEXCOORD_0");
        uvs = uvAt == p.attributes.end() ? nullptr : floats(uvAt->second);
        const auto *raw = accessorData(model, p.indices);
        const bool narrow =
            model.accessors[p.indices].componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
        indices.resize(model.accessors[p.indices].count);
        for (std::size_t i = 0; i < indices.size(); ++i) {
            indices[i] = narrow ? reinterpret_cast<const uint16_t *>(raw)[i]
                                : reinterpret_cast<const uint32_t *>(raw)[i];
        }
        material = &model.materials[p.material].pbrMetallicRoughness;
        texture = nullptr;
        if (material->baseColorTexture.index >= 0 && uvs) {
            texture = &model.images[model.textures[material->baseColorTexture.index].source];
            if (texture->image.empty()) texture = nullptr;
        }
    }
};

// The colour of primitive p at UV (u, v): its texel, else its base colour.
std::array<double, 3> colourAt(const Primitive &p, double u, double v) {
    const auto &factor = p.material->baseColorFactor;
    if (!p.texture) return {factor[0], factor[1], factor[2]};
    const tinygltf::Image &t = *p.texture;
    const int tx = std::clamp(int(u * t.width), 0, t.width - 1);
    const int ty = std::clamp(int(v * t.height), 0, t.height - 1);
    const unsigned char *texel = &t.image[(std::size_t(ty) * t.width + tx) * t.component];
    return {texel[0] / 255.0, texel[1] / 255.0, texel[2] / 255.0};
}

// Triangle t (its first index) of p, moved by offset, lit from the camera's
// side and depth-tested; a back face is skipped.
void drawTriangle(Canvas &canvas, const Camera &camera, const Primitive &p, std::size_t t,
                  const Vec3 &offset) {
    double sx[3], sy[3], sz[3];
    for (int k = 0; k < 3; ++k) {
        const float *q = p.positions + 3 * p.indices[t + k];
        camera.project({q[0] + offset[0], q[1] + offset[1], q[2] + offset[2]}, sx[k], sy[k], sz[k]);
    }
    const float *n = p.normals + 3 * p.indices[t];
    const float *first = p.positions + 3 * p.indices[t];
    const Vec3 normal{n[0], n[1], n[2]};
    const Vec3 toEye = normalize(
        sub(camera.eye, {first[0] + offset[0], first[1] + offset[1], first[2] + offset[2]}));
    if (dot(normal, toEye) <= 0) return;
    const double shade = 0.35 + 0.65 * std::max(0.0, dot(normal, normalize({0.3, 0.8, 0.6})) * 0.5 +
                                                         dot(normal, toEye) * 0.5);
    const double area = (sx[1] - sx[0]) * (sy[2] - sy[0]) - (sx[2] - sx[0]) * (sy[1] - sy[0]);
    if (area == 0) return;
    const int x0 = std::max(0, int(std::floor(std::min({sx[0], sx[1], sx[2]}))));
    const int x1 = std::min(canvas.width - 1, int(std::ceil(std::max({sx[0], sx[1], sx[2]}))));
    const int y0 = std::max(0, int(std::floor(std::min({sy[0], sy[1], sy[2]}))));
    const int y1 = std::min(canvas.height - 1, int(std::ceil(std::max({sy[0], sy[1], sy[2]}))));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            double w[3];
            w[0] = ((sx[1] - px) * (sy[2] - py) - (sx[2] - px) * (sy[1] - py)) / area;
            w[1] = ((sx[2] - px) * (sy[0] - py) - (sx[0] - px) * (sy[2] - py)) / area;
            w[2] = 1 - w[0] - w[1];
            if (w[0] < 0 || w[1] < 0 || w[2] < 0) continue;
            // Perspective-correct interpolation.
            const double z = 1 / (w[0] / sz[0] + w[1] / sz[1] + w[2] / sz[2]);
            double &d = canvas.depth[std::size_t(y) * canvas.width + x];
            if (z >= d) continue;
            d = z;
            double u = 0, v = 0;
            if (p.texture) {
                for (int k = 0; k < 3; ++k) {
                    u += w[k] / sz[k] * p.uvs[2 * p.indices[t + k]];
                    v += w[k] / sz[k] * p.uvs[2 * p.indices[t + k] + 1];
                }
            }
            const auto colour = colourAt(p, u * z, v * z);
            unsigned char *out = &canvas.rgb[(std::size_t(y) * canvas.width + x) * 3];
            for (int c = 0; c < 3; ++c)
                out[c] =
                    static_cast<unsigned char>(std::clamp(colour[c] * shade * 255, 0.0, 255.0));
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: render_glb IN.glb OUT.png [WIDTH HEIGHT] [AZIMUTH]\n");
        return 2;
    }
    const int width = argc > 4 ? std::atoi(argv[3]) : 1200;
    const int height = argc > 4 ? std::atoi(argv[4]) : 700;
    const double azimuth = (argc > 5 ? std::atof(argv[5]) : 25.0) * std::numbers::pi / 180;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        std::fprintf(stderr, "render_glb: WIDTH and HEIGHT are 1 to 16384\n");
        return 2;
    }
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    if (!loader.LoadBinaryFromFile(&model, &error, &warning, argv[1])) {
        std::fprintf(stderr, "render_glb: %s\n", error.c_str());
        return 1;
    }
    std::vector<Draw> draws;
    if (!model.scenes.empty()) {
        const int scene = model.defaultScene >= 0 ? model.defaultScene : 0;
        for (int node : model.scenes[scene].nodes)
            collectDraws(model, node, {0, 0, 0}, draws);
    }
    const Camera camera = Camera::around(model, draws, width, height, azimuth);
    Canvas canvas(width, height);
    for (const Draw &draw : draws) {
        for (const auto &gltfPrimitive : draw.mesh->primitives) {
            const Primitive primitive(model, gltfPrimitive);
            for (std::size_t t = 0; t + 2 < primitive.indices.size(); t += 3)
                drawTriangle(canvas, camera, primitive, t, draw.offset);
        }
    }
    if (!stbi_write_png(argv[2], width, height, 3, canvas.rgb.data(), width * 3)) {
        std::fprintf(stderr, "render_glb: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
