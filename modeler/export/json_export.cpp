#include "modeler/export/json_export.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "modeler/export/atomic_file.h"
#include "modeler/export/json_writer.h"

namespace modeler {
namespace {

using Layout = JsonWriter::Layout;

// The text of each point's number, made once: a point is named by each of
// its corners in the polygons and again by each of its corners' values.
class PointNumbers {
  public:
    explicit PointNumbers(std::size_t count) : texts_(count) {
        for (std::size_t i = 0; i < count; ++i)
            texts_[i].appendNumber(i);
    }
    void write(JsonWriter &out, uint32_t point) const { out.integerText(texts_[point]); }

  private:
    std::vector<ShortText<16>> texts_;  // a point's number has at most 10 digits
};

std::string typeText(uint32_t type) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text.push_back(static_cast<char>(type >> shift));
    return text;
}

void writeGeometry(JsonWriter &out, const Layer &layer, const PointNumbers &numbers) {
    out.key("points").beginArray();
    for (const auto &point : layer.points()) {
        out.beginArray(Layout::Inline).value(point[0]).value(point[1]).value(point[2]);
        out.endArray();
    }
    out.endArray();

    out.key("polygons").beginArray();
    const auto &polygons = layer.polygons();
    for (std::size_t i = 0; i < polygons.size(); ++i) {
        out.beginObject(Layout::Inline);
        out.key("surface").value(layer.surfaceNames()[polygons[i].surface]);
        out.key("points").beginArray();
        for (const uint32_t point : layer.polygonPoints(static_cast<uint32_t>(i)))
            numbers.write(out, point);
        out.endArray().endObject();
    }
    out.endArray();
}

// A value: its point, its polygon's number (null for a point's own value)
// and its numbers.
void writeValue(JsonWriter &out, const VertexMap &map, const PointNumbers &numbers, uint32_t point,
                const ShortText<24> *polygon, const float *values) {
    out.beginArray(Layout::Inline);
    numbers.write(out, point);
    if (polygon)
        out.integerText(*polygon);
    else
        out.null();
    for (int d = 0; d < map.dimension(); ++d)
        out.value(values[d]);
    out.endArray();
}

void writeMaps(JsonWriter &out, const Layer &layer, const PointNumbers &numbers) {
    out.key("vmaps").beginArray();
    for (const auto &map : layer.vertexMaps()) {
        out.beginObject(Layout::Inline);
        out.key("type").value(typeText(map->type()));
        out.key("name").value(map->name());
        out.key("dimension").value(map->dimension());
        out.key("values").beginArray(Layout::Lines);
        for (std::size_t p = 0; p < layer.points().size(); ++p) {
            if (const float *v = map->pointValue(static_cast<uint32_t>(p)))
                writeValue(out, *map, numbers, static_cast<uint32_t>(p), nullptr, v);
        }
        const auto &polygons = layer.polygons();
        for (std::size_t poly = 0; poly < polygons.size(); ++poly) {
            ShortText<24> number;  // made once for the polygon's corners
            number.appendNumber(poly);
            for (uint32_t c = 0; c < polygons[poly].cornerCount; ++c) {
                const uint32_t corner = polygons[poly].firstCorner + c;
                if (const float *v = map->cornerValue(corner))
                    writeValue(out, *map, numbers, layer.corners()[corner], &number, v);
            }
        }
        out.endArray().endObject();
    }
    out.endArray();
}

void writeTexture(JsonWriter &out, const std::string &channel, const Texture &texture) {
    out.beginObject();
    out.key("channel").value(channel);
    out.key("name").value(texture.name);
    out.key("return").value(texture.returnType);
    out.key("layers").beginArray();
    for (const auto &layer : texture.layers) {
        out.beginObject();
        out.key("type").value(layer->type);  // a plug-in's, any int
        out.key("image");
        if (layer->image)
            out.value(layer->image->path);
        else
            out.null();
        out.key("projection");
        if (layer->projection)
            out.value(*layer->projection);
        else
            out.null();
        out.key("uvmap");
        if (layer->uvMap)
            out.value(layer->uvMap->name());
        else
            out.null();
        out.endObject();
    }
    out.endArray().endObject();
}

void writeSurfaces(JsonWriter &out, const Scene &scene) {
    out.key("surfaces").beginArray();
    for (const auto &surface : scene.surfaces()) {
        out.beginObject(Layout::Inline);
        out.key("name").value(scene.surfaceName(*surface));
        out.key("textures").beginArray();
        for (const auto &[channel, texture] : surface->channels)
            writeTexture(out, channel, *texture);
        out.endArray().endObject();
    }
    out.endArray();
}

void writeImages(JsonWriter &out, const Scene &scene) {
    out.key("images").beginArray();
    for (const auto &image : scene.images()) {
        out.beginObject(Layout::Inline);
        out.key("path").value(image->path);
        out.key("width").value(image->width).key("height").value(image->height);
        out.endObject();
    }
    out.endArray();
}

void writeScene(const Scene &scene, ChunkedText::Sink sink) {
    JsonWriter out(std::move(sink), 2);
    out.beginObject();
    out.key("object").value(scene.objectName());
    const PointNumbers numbers(scene.layer().points().size());
    writeGeometry(out, scene.layer(), numbers);
    writeMaps(out, scene.layer(), numbers);
    writeSurfaces(out, scene);
    writeImages(out, scene);
    out.endObject().endLine();
    out.finish();
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
