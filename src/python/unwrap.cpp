#include "python/unwrap.hpp"

#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/schema.hpp"
#include "schema/unwrap.hpp"

#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace quarel::py {

namespace {

struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>()(text);
    }
};
template <class T> using TextMap = std::unordered_map<std::string, T, TextHash, std::equal_to<>>;

// A schema's places, as its `places` object tells them, each asked once:
// `describe(place)` gives (accepts, keys, other_key, items, other_item):
// the names of the JSON types it accepts, the places of named keys ({key: place}, or None when the
// place of a key depends on more than its name: then `child(place, key)` tells it), `other_key`
// that of any other key, `items` those of the first items of a list and `other_item` that of the
// rest. Place 0 is the schema's root; `anywhere` stands for no schema at all.
class Places {
  public:
    static constexpr int anywhere = -1;

    explicit Places(PyObject* places) : places_(places) {}

    bool accepts(int place, unsigned& out) {
        if (place == anywhere) {
            out = accepts_anything;
            return true;
        }
        const Info* info = described(place);
        if (!info) return false;
        out = info->accepts;
        return true;
    }

    bool child(int place, std::string_view key, int& out) {
        if (place == anywhere) return out = anywhere, true;
        Info* info = described(place);
        if (!info) return false;
        if (auto found = info->keys.find(key); found != info->keys.end())
            return out = found->second, true;
        if (!info->dynamic) return out = info->other_key, true;
        Ref text = to_str(key);
        Ref asked(text ? PyObject_CallMethod(places_, "child", "iO", place, text.get()) : nullptr);
        if (!asked || !place_number(asked.get(), out)) return false;
        infos_[static_cast<std::size_t>(place)].keys.emplace(std::string(key), out);
        return true;
    }

    bool item(int place, std::size_t index, int& out) {
        if (place == anywhere) return out = anywhere, true;
        const Info* info = described(place);
        if (!info) return false;
        out = index < info->items.size() ? info->items[index] : info->other_item;
        return true;
    }

  private:
    struct Info {
        bool known = false;
        unsigned accepts = accepts_anything;
        bool dynamic = false;
        TextMap<int> keys;
        int other_key = anywhere;
        std::vector<int> items;
        int other_item = anywhere;
    };

    static bool place_number(PyObject* obj, int& out) {
        const long n = PyLong_AsLong(obj);
        if (n == -1 && PyErr_Occurred()) return false;
        if (n < anywhere || n > INT32_MAX) {
            PyErr_SetString(PyExc_ValueError, "a schema place must be a number from -1");
            return false;
        }
        out = static_cast<int>(n);
        return true;
    }

    Info* described(int place) {
        const auto at = static_cast<std::size_t>(place);
        if (at < infos_.size() && infos_[at].known) return &infos_[at];
        Ref description(PyObject_CallMethod(places_, "describe", "i", place));
        if (!description) return nullptr;
        PyObject *accepts, *keys, *items;
        Info info;
        if (!PyArg_ParseTuple(description.get(),
                              "OOiOi;describe() returns (accepts, keys, "
                              "other_key, items, other_item)",
                              &accepts, &keys, &info.other_key, &items, &info.other_item))
            return nullptr;
        if (!read_types(accepts, info.accepts)) return nullptr;
        info.dynamic = keys == Py_None;
        if (!info.dynamic && !read_keys(keys, info.keys)) return nullptr;
        Ref sequence(PySequence_Fast(items, "describe(): items must be a sequence"));
        if (!sequence) return nullptr;
        for (Py_ssize_t i = 0; i < PySequence_Size(sequence.get()); ++i) {
            Ref item(PySequence_GetItem(sequence.get(), i));
            int number;
            if (!item || !place_number(item.get(), number)) return nullptr;
            info.items.push_back(number);
        }
        info.known = true;
        if (infos_.size() <= at) infos_.resize(at + 1);
        infos_[at] = std::move(info);
        return &infos_[at];
    }

    // JSON types by name: those the place accepts.
    static bool read_types(PyObject* types, unsigned& out) {
        static constexpr std::pair<std::string_view, unsigned> bits[] = {
            {"string", accepts_string},   {"integer", accepts_integer}, {"number", accepts_number},
            {"boolean", accepts_boolean}, {"array", accepts_array},     {"object", accepts_object},
        };
        Ref sequence(PySequence_Fast(types, "describe(): accepts must be a sequence of types"));
        if (!sequence) return false;
        out = 0;
        for (Py_ssize_t i = 0; i < PySequence_Size(sequence.get()); ++i) {
            Ref type(PySequence_GetItem(sequence.get(), i));
            auto name = type ? utf8(type.get()) : std::nullopt;
            if (!name) return false;
            for (const auto& [known, bit] : bits)
                if (*name == known) out |= bit;
        }
        return true;
    }

    static bool read_keys(PyObject* keys, TextMap<int>& out) {
        if (!PyDict_Check(keys)) {
            PyErr_SetString(PyExc_TypeError, "describe(): keys must be a dict or None");
            return false;
        }
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(keys, &pos, &key, &value)) {
            auto text = utf8(key);
            int number;
            if (!text || !place_number(value, number)) return false;
            out.emplace(std::move(*text), number);
        }
        return true;
    }

    PyObject* places_;
    std::vector<Info> infos_;
};

// What inference asks for instead of a schema.
struct Marks {
    PyObject* names = nullptr;
    PyObject* literal = nullptr;
};

// Builds the plain value from the steps, depth first, without recursion.
class Builder {
  public:
    Builder(const Unwrapped& steps, Places& places, const Marks& marks)
        : steps_(steps), places_(places), marks_(marks) {}

    Ref build(int root) {
        Ref result;
        for (std::size_t i = 0; i < steps_.steps.size();) {
            const Step& step = steps_.steps[i];
            if (!stack_.empty() && stack_.back().dict && !stack_.back().key) {
                stack_.back().key = key(step);
                stack_.back().key_text = steps_.text_of(step);
                if (!stack_.back().key) return Ref();
                ++i;
                continue;
            }
            int place = root;
            if (!stack_.empty() && !place_of_next(place)) return Ref();
            unsigned accepts;
            if (!places_.accepts(place, accepts)) return Ref();
            const Plain plain = plain_of(step, accepts);
            if (!stack_.empty() && stack_.back().dict && !marks_.names && wraps(plain, accepts)) {
                // The value becomes the one item of a list, built next.
                Ref list(PyList_New(1));
                if (!list || !attach(list, result)) return Ref();
                stack_.push_back({list.get(), false, 1, 0, place, Ref(), {}});
                continue;
            }
            Ref value = make(step, plain);
            if (!value || !attach(value, result)) return Ref();
            if ((step.op == Step::dict || step.op == Step::names || step.op == Step::list) &&
                step.size > 0)
                stack_.push_back(
                    {value.get(), step.op != Step::list, step.size, 0, place, Ref(), {}});
            ++i;
            while (!stack_.empty() && stack_.back().left == 0) stack_.pop_back();
        }
        return result;
    }

  private:
    // A dict or list being filled: its entries or items still to come, the
    // next item's index, its place, and the key of the entry to come.
    struct Frame {
        PyObject* container; // held by its parent, or by the result
        bool dict;
        std::uint32_t left;
        std::uint32_t index;
        int place;
        Ref key;
        std::string_view key_text;
    };

    bool place_of_next(int& place) {
        Frame& parent = stack_.back();
        if (!parent.dict) return places_.item(parent.place, parent.index, place);
        return places_.child(parent.place, parent.key_text, place);
    }

    Plain plain_of(const Step& step, unsigned accepts) const {
        switch (step.op) {
        case Step::dict:
        case Step::names: return Plain::object;
        case Step::list: return step.size == 0 ? empty_list_as(accepts) : Plain::array;
        case Step::literal:
            if (marks_.names) return literal_as(step.reading.reading, accepts & ~accepts_string);
            return literal_as(step.reading.reading, accepts);
        default: return Plain::string;
        }
    }

    // Keys repeat: each text is made once.
    Ref key(const Step& step) {
        const std::string_view text = steps_.text_of(step);
        if (auto found = keys_.find(text); found != keys_.end()) return found->second;
        Ref made = to_str(text);
        if (made) keys_.emplace(text, made);
        return made;
    }

    Ref make(const Step& step, Plain plain) {
        const std::string_view text = steps_.text_of(step);
        switch (step.op) {
        case Step::names:
            if (marks_.names) return Ref(PyObject_CallObject(marks_.names, nullptr));
            return Ref(PyDict_New());
        case Step::dict: return Ref(PyDict_New());
        case Step::list:
            if (plain == Plain::object) return Ref(PyDict_New());
            return Ref(PyList_New(static_cast<Py_ssize_t>(step.size)));
        case Step::key:
        case Step::text: return to_str(text);
        case Step::literal: break;
        }
        switch (plain) {
        case Plain::integer:
            if (step.reading.reading == Reading::integer)
                return Ref(PyLong_FromLongLong(step.reading.integer));
            return Ref(PyFloat_FromDouble(step.reading.number));
        case Plain::number: return Ref(PyFloat_FromDouble(step.reading.number));
        case Plain::boolean:
            return Ref::borrow(step.reading.reading == Reading::yes ? Py_True : Py_False);
        default: break;
        }
        Ref str = to_str(text);
        if (!str || !marks_.literal) return str;
        return Ref(PyObject_CallFunctionObjArgs(marks_.literal, str.get(), nullptr));
    }

    // Puts the value in its dict or list, or makes it the result.
    bool attach(const Ref& value, Ref& result) {
        if (stack_.empty()) {
            result = value;
            return true;
        }
        Frame& parent = stack_.back();
        --parent.left;
        if (!parent.dict) {
            PyList_SetItem(parent.container, static_cast<Py_ssize_t>(parent.index++),
                           Ref(value).release());
            return true;
        }
        Ref key = std::move(parent.key);
        return PyDict_SetItem(parent.container, key.get(), value.get()) == 0;
    }

    const Unwrapped& steps_;
    Places& places_;
    const Marks& marks_;
    std::vector<Frame> stack_;
    std::unordered_map<std::string_view, Ref> keys_;
};

// The schema argument's places: None for none; else its `places`.
bool places_arg(const char* function, PyObject* schema, Ref& places) {
    if (!schema || schema == Py_None) return true;
    places = schema_attribute(function, schema, "places");
    return static_cast<bool>(places);
}

PyObject* built(const std::optional<Unwrapped>& steps, PyObject* places_obj, const Marks& marks) {
    if (!steps) return raise_error(ErrorCode::pair_busy);
    Places places(places_obj);
    return Builder(*steps, places, marks).build(places_obj ? 0 : Places::anywhere).release();
}

std::optional<Unwrapped> document_steps(PyObject* self) {
    ContainerLock access(container_of(self), ContainerLock::shared);
    if (!access) return raise_error(access.error()), std::nullopt;
    std::optional<Unwrapped> steps = unwrap(access.body());
    if (!steps) raise_error(ErrorCode::pair_busy);
    return steps;
}

} // namespace

PyObject* document_unwrap(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    Ref places;
    if (!parse_args({"unwrap", {"schema"}, 1, 0}, args, kwargs, arg) ||
        !places_arg("unwrap", arg[0], places))
        return nullptr;
    std::optional<Unwrapped> steps = document_steps(self);
    if (!steps) return nullptr;
    return built(steps, places.get(), {});
}

PyObject* pair_unwrap(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    Ref places;
    if (!parse_args({"unwrap", {"schema"}, 1, 0}, args, kwargs, arg) ||
        !places_arg("unwrap", arg[0], places))
        return nullptr;
    const PairRef& pair = as_pair(self)->pair;
    std::optional<Unwrapped> steps;
    {
        ReadGuard guard(pair.lock());
        if (guard) steps = unwrap(pair->value);
    }
    return built(steps, places.get(), {});
}

PyObject* document_unwrap_marked(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[2];
    if (!parse_args({"_unwrap_marked", {"names", "literal"}, 2, 2}, args, kwargs, arg))
        return nullptr;
    std::optional<Unwrapped> steps = document_steps(self);
    if (!steps) return nullptr;
    return built(steps, nullptr, {arg[0], arg[1]});
}

} // namespace quarel::py
