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

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: render_glb IN.glb OUT.png [WIDTH HEIGHT] [AZIMUTH]\n");
        return 2;
    }
    const int width = argc > 4 ? std::atoi(argv[3]) : 1200;
    const int height = argc > 4 ? std::atoi(argv[4]) : 700;
    const double azimuth = (argc > 5 ? std::atof(argv[5]) : 25.0) * std::numbers::pi / 180;
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
    const Vec3 eye{centre[0] + std::sin(azimuth) * radius * 1.9, centre[1] + radius * 0.45,
                   centre[2] + std::cos(azimuth) * radius * 1.9};
    const Vec3 forward = normalize(sub(centre, eye));
    const Vec3 right = normalize(cross(forward, {0, 1, 0}));
    const Vec3 up = cross(right, forward);
    const double focal = height * 1.4;

    std::vector<unsigned char> image(std::size_t(width) * height * 3, 235);
    std::vector<double> depth(std::size_t(width) * height, std::numeric_limits<double>::infinity());
    auto project = [&](Vec3 p, double &x, double &y, double &z) {
        const Vec3 d = sub(p, eye);
        z = dot(d, forward);
        x = width / 2.0 + focal * dot(d, right) / z;
        y = height / 2.0 - focal * dot(d, up) / z;
    };
    for (const Draw &draw : draws) {
        const Vec3 &o = draw.offset;
        for (const auto &p : draw.mesh->primitives) {
            const auto *pos =
                reinterpret_cast<const float *>(accessorData(model, p.attributes.at("POSITION")));
            const auto *nrm =
                reinterpret_cast<const float *>(accessorData(model, p.attributes.at("NORMAL")));
            const auto uvAt = p.attributes.find("TEXCOORD_0");
            const auto *uv =
                uvAt == p.attributes.end()
                    ? nullptr
                    : reinterpret_cast<const float *>(accessorData(model, uvAt->second));
            // Indices of 16 or 32 bits, read as 32.
            const auto *rawIndices = accessorData(model, p.indices);
            const bool narrow =
                model.accessors[p.indices].componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
            std::vector<uint32_t> idx(model.accessors[p.indices].count);
            for (std::size_t i = 0; i < idx.size(); ++i) {
                idx[i] = narrow ? reinterpret_cast<const uint16_t *>(rawIndices)[i]
                                : reinterpret_cast<const uint32_t *>(rawIndices)[i];
            }
            const auto &material = model.materials[p.material].pbrMetallicRoughness;
            const tinygltf::Image *texture = nullptr;
            if (material.baseColorTexture.index >= 0) {
                texture = &model.images[model.textures[material.baseColorTexture.index].source];
            }
            const std::size_t count = model.accessors[p.indices].count;
            for (std::size_t t = 0; t + 2 < count; t += 3) {
                double sx[3], sy[3], sz[3];
                for (int k = 0; k < 3; ++k) {
                    const float *q = pos + 3 * idx[t + k];
                    project({q[0] + o[0], q[1] + o[1], q[2] + o[2]}, sx[k], sy[k], sz[k]);
                }
                const float *n = nrm + 3 * idx[t];
                const Vec3 normal{n[0], n[1], n[2]};
                const Vec3 toEye =
                    normalize(sub(eye, {pos[3 * idx[t]] + o[0], pos[3 * idx[t] + 1] + o[1],
                                        pos[3 * idx[t] + 2] + o[2]}));
                if (dot(normal, toEye) <= 0) continue;  // back face
                const double shade =
                    0.35 + 0.65 * std::max(0.0, dot(normal, normalize({0.3, 0.8, 0.6})) * 0.5 +
                                                    dot(normal, toEye) * 0.5);
                const double area =
                    (sx[1] - sx[0]) * (sy[2] - sy[0]) - (sx[2] - sx[0]) * (sy[1] - sy[0]);
                if (area == 0) continue;
                const int x0 = std::max(0, int(std::floor(std::min({sx[0], sx[1], sx[2]}))));
                const int x1 = std::min(width - 1, int(std::ceil(std::max({sx[0], sx[1], sx[2]}))));
                const int y0 = std::max(0, int(std::floor(std::min({sy[0], sy[1], sy[2]}))));
                const int y1 =
                    std::min(height - 1, int(std::ceil(std::max({sy[0], sy[1], sy[2]}))));
                for (int y = y0; y <= y1; ++y) {
                    for (int x = x0; x <= x1; ++x) {
                        const double px = x + 0.5, py = y + 0.5;
                        double w[3];
                        w[0] = ((sx[1] - px) * (sy[2] - py) - (sx[2] - px) * (sy[1] - py)) / area;
                        w[1] = ((sx[2] - px) * (sy[0] - py) - (sx[0] - px) * (sy[2] - py)) / area;
                        w[2] = 1 - w[0] - w[1];
                        if (w[0] < 0 || w[1] < 0 || w[2] < 0) continue;
                        // Perspective-correct interpolation.
                        const double iz = w[0] / sz[0] + w[1] / sz[1] + w[2] / sz[2];
                        const double z = 1 / iz;
                        double &d = depth[std::size_t(y) * width + x];
                        if (z >= d) continue;
                        d = z;
                        double colour[3] = {material.baseColorFactor[0],
                                            material.baseColorFactor[1],
                                            material.baseColorFactor[2]};
                        if (texture && uv && !texture->image.empty()) {
                            double u = 0, v = 0;
                            for (int k = 0; k < 3; ++k) {
                                u += w[k] / sz[k] * uv[2 * idx[t + k]];
                                v += w[k] / sz[k] * uv[2 * idx[t + k] + 1];
                            }
                            u *= z;
                            v *= z;
                            const int tx =
                                std::clamp(int(u * texture->width), 0, texture->width - 1);
                            const int ty =
                                std::clamp(int(v * texture->height), 0, texture->height - 1);
                            const unsigned char *texel =
                                &texture->image[(std::size_t(ty) * texture->width + tx) *
                                                texture->component];
                            for (int c = 0; c < 3; ++c)
                                colour[c] = texel[c] / 255.0;
                        }
                        unsigned char *out = &image[(std::size_t(y) * width + x) * 3];
                        for (int c = 0; c < 3; ++c)
                            out[c] = static_cast<unsigned char>(
                                std::clamp(colour[c] * shade * 255, 0.0, 255.0));
                    }
                }
            }
        }
    }
    if (!stbi_write_png(argv[2], width, height, 3, image.data(), width * 3)) {
        std::fprintf(stderr, "render_glb: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
