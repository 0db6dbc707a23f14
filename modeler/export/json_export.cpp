#include "modeler/export/json_export.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "modeler/export/atomic_file.h"
#include "modeler/export/chunked_text.h"
#include "modeler/export/json_writer.h"

namespace modeler {
namespace {

// The scene's JSON in chunks, with its strings escaped.
class JsonText : public ChunkedText {
  public:
    using ChunkedText::ChunkedText;
    void integer(std::size_t value) { number(value); }
    void string(std::string_view s) {
        scratch_.clear();
        appendJsonString(scratch_, s);
        raw(std::string_view(scratch_));
    }

  private:
    std::string scratch_;
};

// The text of each point's number, made once: a point is named by each of
// its corners in the polygons and again by each of its corners' values.
class PointNumbers {
  public:
    explicit PointNumbers(std::size_t count) : texts_(count) {
        for (std::size_t i = 0; i < count; ++i)
            texts_[i].appendNumber(i);
    }
    void write(ChunkedText &out, uint32_t point) const { out.put(texts_[point]); }

  private:
    std::vector<ShortText<16>> texts_;  // a point's number has at most 10 digits
};

std::string typeText(uint32_t type) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text.push_back(static_cast<char>(type >> shift));
    return text;
}

void writeGeometry(JsonText &out, const Layer &layer, const PointNumbers &numbers) {
    out.raw("  \"points\": [");
    const auto &points = layer.points();
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i)
            out.raw(",\n    [");
        else
            out.raw("\n    [");
        out.number(points[i][0]);
        out.raw(", ");
        out.number(points[i][1]);
        out.raw(", ");
        out.number(points[i][2]);
        out.raw("]");
    }
    out.raw(points.empty() ? "],\n" : "\n  ],\n");

    out.raw("  \"polygons\": [");
    const auto &polygons = layer.polygons();
    // Each surface's name as JSON once: a name stands on many polygons.
    std::vector<std::string> names(layer.surfaceNames().size());
    for (std::size_t i = 0; i < polygons.size(); ++i) {
        if (i)
            out.raw(",\n    {\"surface\": ");
        else
            out.raw("\n    {\"surface\": ");
        std::string &name = names[polygons[i].surface];
        if (name.empty()) appendJsonString(name, layer.surfaceNames()[polygons[i].surface]);
        out.raw(std::string_view(name));
        out.raw(", \"points\": [");
        const auto corners = layer.polygonPoints(static_cast<uint32_t>(i));
        for (std::size_t c = 0; c < corners.size(); ++c) {
            if (c) out.raw(", ");
            numbers.write(out, corners[c]);
        }
        out.raw("]}");
    }
    out.raw(polygons.empty() ? "],\n" : "\n  ],\n");
}

// A polygon's number, or null for a point's own value.
using PolygonText = ShortText<24>;

void writeValues(JsonText &out, const VertexMap &map, const PointNumbers &numbers, uint32_t point,
                 const PolygonText &polygon, const float *values, bool &first) {
    if (first)
        out.raw("\n      [");
    else
        out.raw(",\n      [");
    first = false;
    numbers.write(out, point);
    out.raw(", ");
    out.put(polygon);
    for (int d = 0; d < map.dimension(); ++d) {
        out.raw(", ");
        out.number(values[d]);
    }
    out.raw("]");
}

void writeMaps(JsonText &out, const Layer &layer, const PointNumbers &numbers) {
    out.raw("  \"vmaps\": [");
    bool firstMap = true;
    for (const auto &map : layer.vertexMaps()) {
        out.raw(firstMap ? "\n    {\"type\": " : ",\n    {\"type\": ");
        firstMap = false;
        out.string(typeText(map->type()));
        out.raw(", \"name\": ");
        out.string(map->name());
        out.raw(", \"dimension\": ");
        out.integer(static_cast<std::size_t>(map->dimension()));
        out.raw(", \"values\": [");
        bool first = true;
        PolygonText none;
        none.append("null");
        for (std::size_t p = 0; p < layer.points().size(); ++p) {
            if (const float *v = map->pointValue(static_cast<uint32_t>(p))) {
                writeValues(out, *map, numbers, static_cast<uint32_t>(p), none, v, first);
            }
        }
        const auto &polygons = layer.polygons();
        for (std::size_t poly = 0; poly < polygons.size(); ++poly) {
            PolygonText number;  // written once for the polygon's corners
            number.appendNumber(poly);
            for (uint32_t c = 0; c < polygons[poly].cornerCount; ++c) {
                const uint32_t corner = polygons[poly].firstCorner + c;
                if (const float *v = map->cornerValue(corner)) {
                    writeValues(out, *map, numbers, layer.corners()[corner], number, v, first);
                }
            }
        }
        out.raw(first ? "]}" : "\n    ]}");
    }
    out.raw(firstMap ? "],\n" : "\n  ],\n");
}

void writeSurfaces(JsonText &out, const Scene &scene) {
    out.raw("  \"surfaces\": [");
    bool firstSurface = true;
    for (const auto &surface : scene.surfaces()) {
        out.raw(firstSurface ? "\n    {\"name\": " : ",\n    {\"name\": ");
        firstSurface = false;
        out.string(scene.surfaceName(*surface));
        out.raw(", \"textures\": [");
        bool firstTexture = true;
        for (const auto &[channel, texture] : surface->channels) {
            out.raw(firstTexture ? "{\"channel\": " : ", {\"channel\": ");
            firstTexture = false;
            out.string(channel);
            out.raw(", \"name\": ");
            out.string(texture->name);
            out.raw(", \"return\": ");
            out.raw(std::to_string(texture->returnType));
            out.raw(", \"layers\": [");
            for (std::size_t l = 0; l < texture->layers.size(); ++l) {
                const TextureLayer &layer = *texture->layers[l];
                out.raw(l ? ", {\"type\": " : "{\"type\": ");
                out.raw(std::to_string(layer.type));  // a plug-in's, any int
                out.raw(", \"image\": ");
                if (layer.image)
                    out.string(layer.image->path);
                else
                    out.raw("null");
                out.raw(", \"projection\": ");
                if (layer.projection)
                    out.raw(std::to_string(*layer.projection));
                else
                    out.raw("null");
                out.raw(", \"uvmap\": ");
                if (layer.uvMap)
                    out.string(layer.uvMap->name());
                else
                    out.raw("null");
                out.raw("}");
            }
            out.raw("]}");
        }
        out.raw("]}");
    }
    out.raw(firstSurface ? "],\n" : "\n  ],\n");
}

void writeImages(JsonText &out, const Scene &scene) {
    out.raw("  \"images\": [");
    const auto &images = scene.images();
    for (std::size_t i = 0; i < images.size(); ++i) {
        out.raw(i ? ",\n    {\"path\": " : "\n    {\"path\": ");
        out.string(images[i]->path);
        out.raw(", \"width\": ");
        out.integer(static_cast<std::size_t>(images[i]->width));
        out.raw(", \"height\": ");
        out.integer(static_cast<std::size_t>(images[i]->height));
        out.raw("}");
    }
    out.raw(images.empty() ? "]\n" : "\n  ]\n");
}

void writeScene(const Scene &scene, JsonText::Sink sink) {
    JsonText out(std::move(sink));
    out.raw("{\n  \"object\": ");
    out.string(scene.objectName());
    out.raw(",\n");
    const PointNumbers numbers(scene.layer().points().size());
    writeGeometry(out, scene.layer(), numbers);
    writeMaps(out, scene.layer(), numbers);
    writeSurfaces(out, scene);
    writeImages(out, scene);
    out.raw("}\n");
    out.flush();
}

}  // namespace

std::string sceneToJson(const Scene &scene) {
    std::string text;
    writeScene(scene, [&text](std::string_view chunk) { text.append(chunk); });
    return text;
}

std::optional<std::string> writeJson(const Scene &scene, const std::string &path,
                                     StagedFiles &files) {
    AtomicFile &file = files.add(path);
    if (file.error()) return file.error();
    writeScene(scene, [&file](std::string_view chunk) { file.write(chunk); });
    return file.error();
}

}  // namespace modeler
