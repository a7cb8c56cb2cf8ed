/* A small tool for the compound files of Windows Installer packages, on
 * libgsf. No Debian tool writes transforms, so the sample kit makes its own.
 *
 *   msistore transform <out.mst> <template> <revision> NAME=VALUE...
 *       writes a transform that sets each Property row NAME to VALUE (inserted
 *       when absent); <template> and <revision> go into its summary
 *       information ("x64;1033" and "{from}ver;{to}ver;{upgrade code}"),
 *       which the engine reads before it applies an embedded transform.
 *   msistore embed <package.msi> <name> <transform.mst>
 *       rewrites the package with the transform as its sub-storage <name>,
 *       replacing one of that name.
 *   msistore remove <package.msi> <name>
 *       rewrites the package without its entry <name>.
 *   msistore list <file>
 *       prints one line per entry of the root storage, "storage <name>" or
 *       "stream <name>"; exits 1 when the file is not a compound file.
 */
#include <gsf/gsf.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Root class of a transform; a package's root class is copied as found. */
static const guint8 TRANSFORM_CLASS[16] = {0x82, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

static int Fail(const char *what, GError *error)
{
    fprintf(stderr, "msistore: %s%s%s\n", what, error ? ": " : "", error ? error->message : "");
    if (error)
        g_error_free(error);
    return 1;
}

/* ---- table stream names ---------------------------------------------- */

static int CharCode(gunichar c)
{
    if (c >= '0' && c <= '9')
        return (int)(c - '0');
    if (c >= 'A' && c <= 'Z')
        return (int)(c - 'A') + 10;
    if (c >= 'a' && c <= 'z')
        return (int)(c - 'a') + 36;
    if (c == '.')
        return 62;
    if (c == '_')
        return 63;
    return -1;
}

/* The stream name the engine stores a table under, in UTF-8 (caller frees). */
static char *TableStreamName(const char *table)
{
    gunichar name[64];
    size_t n = 0;
    name[n++] = 0x4840;
    for (const char *p = table; *p != '\0' && n < 62; p++) {
        int a = CharCode((unsigned char)p[0]);
        int b = p[1] != '\0' ? CharCode((unsigned char)p[1]) : -1;
        if (a >= 0 && b >= 0) {
            name[n++] = 0x3800 + a + (b << 6);
            p++;
        } else if (a >= 0) {
            name[n++] = 0x4800 + a;
        } else {
            name[n++] = (unsigned char)*p;
        }
    }
    return g_ucs4_to_utf8(name, (glong)n, NULL, NULL, NULL);
}

/* ---- little-endian byte buffers ---------------------------------------- */

static void Put16(GByteArray *b, unsigned v)
{
    guint8 x[2] = {(guint8)v, (guint8)(v >> 8)};
    g_byte_array_append(b, x, 2);
}

static void Put32(GByteArray *b, unsigned long v)
{
    guint8 x[4] = {(guint8)v, (guint8)(v >> 8), (guint8)(v >> 16), (guint8)(v >> 24)};
    g_byte_array_append(b, x, 4);
}

static void Set32(GByteArray *b, size_t at, unsigned long v)
{
    b->data[at] = (guint8)v;
    b->data[at + 1] = (guint8)(v >> 8);
    b->data[at + 2] = (guint8)(v >> 16);
    b->data[at + 3] = (guint8)(v >> 24);
}

static int WriteChild(GsfOutfile *parent, const char *name, const GByteArray *data)
{
    GsfOutput *child = gsf_outfile_new_child(parent, name, FALSE);
    if (child == NULL)
        return 0;
    int ok = gsf_output_write(child, data->len, data->data) && gsf_output_close(child);
    g_object_unref(child);
    return ok;
}

/* ---- summary information ------------------------------------------------ */

enum { VT_I2 = 2, VT_I4 = 3, VT_LPSTR = 30 };

typedef struct {
    unsigned id, type;
    long number;
    const char *text;
} Property;

static GByteArray *SummaryStream(const Property *properties, unsigned count)
{
    static const guint8 fmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                     0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    GByteArray *b = g_byte_array_new();
    Put16(b, 0xFFFE);
    Put16(b, 0);
    Put32(b, 0x00020006); /* written on Windows NT 6 */
    guint8 zero[16] = {0};
    g_byte_array_append(b, zero, 16);
    Put32(b, 1);
    g_byte_array_append(b, fmtid, 16);
    Put32(b, 48);

    size_t section = b->len;
    Put32(b, 0); /* section size, set below */
    Put32(b, count);
    size_t table = b->len;
    for (unsigned i = 0; i < count; i++) {
        Put32(b, properties[i].id);
        Put32(b, 0);
    }
    for (unsigned i = 0; i < count; i++) {
        Set32(b, table + 8 * i + 4, (unsigned long)(b->len - section));
        Put32(b, properties[i].type);
        if (properties[i].type == VT_I2) {
            Put16(b, (unsigned)properties[i].number);
            Put16(b, 0);
        } else if (properties[i].type == VT_I4) {
            Put32(b, (unsigned long)properties[i].number);
        } else {
            size_t length = strlen(properties[i].text) + 1;
            Put32(b, (unsigned long)length);
            g_byte_array_append(b, (const guint8 *)properties[i].text, (guint)length);
            while (b->len % 4 != 0)
                g_byte_array_append(b, zero, 1);
        }
    }
    Set32(b, section, (unsigned long)(b->len - section));
    return b;
}

/* ---- transform ----------------------------------------------------------- */

/* Strings of the transform's own string pool; ids start at 1. */
typedef struct {
    GPtrArray *texts;
    GArray *refs;
} Pool;

static unsigned PoolId(Pool *pool, const char *text)
{
    for (unsigned i = 0; i < pool->texts->len; i++) {
        if (strcmp(g_ptr_array_index(pool->texts, i), text) == 0) {
            g_array_index(pool->refs, unsigned, i)++;
            return i + 1;
        }
    }
    g_ptr_array_add(pool->texts, g_strdup(text));
    unsigned one = 1;
    g_array_append_val(pool->refs, one);
    return pool->texts->len;
}

static int WriteTransform(int argc, char **argv)
{
    if (argc < 6)
        return Fail("usage: transform <out.mst> <template> <revision> NAME=VALUE...", NULL);
    const char *out_path = argv[2];
    Pool pool = {g_ptr_array_new_with_free_func(g_free), g_array_new(FALSE, FALSE, sizeof(unsigned))};
    GByteArray *rows = g_byte_array_new();
    for (int i = 5; i < argc; i++) {
        char *equals = strchr(argv[i], '=');
        if (equals == NULL || equals == argv[i])
            return Fail("a property change must be NAME=VALUE", NULL);
        *equals = '\0';
        /* Low bit set: the row's columns follow in order, their number in the
         * high byte; the engine inserts the row or replaces the one with its key. */
        Put16(rows, 0x0201);
        Put16(rows, PoolId(&pool, argv[i]));
        Put16(rows, PoolId(&pool, equals + 1));
    }

    GByteArray *string_pool = g_byte_array_new();
    GByteArray *string_data = g_byte_array_new();
    Put16(string_pool, 1252); /* code page, low and high word */
    Put16(string_pool, 0);
    for (unsigned i = 0; i < pool.texts->len; i++) {
        const char *text = g_ptr_array_index(pool.texts, i);
        size_t length = strlen(text);
        if (length > 0xFFFF)
            return Fail("a property value is too long", NULL);
        Put16(string_pool, (unsigned)length);
        Put16(string_pool, g_array_index(pool.refs, unsigned, i));
        g_byte_array_append(string_data, (const guint8 *)text, (guint)length);
    }

    Property summary[] = {
        {1, VT_I2, 1252, NULL},     /* code page */
        {7, VT_LPSTR, 0, argv[3]},  /* template: platform and language */
        {9, VT_LPSTR, 0, argv[4]},  /* revision: product codes and versions */
        {14, VT_I4, 200, NULL},     /* engine version */
        {15, VT_I4, 0, NULL},       /* source type */
        {16, VT_I4, 0, NULL},       /* validation and error flags: none */
    };
    GByteArray *summary_stream = SummaryStream(summary, sizeof(summary) / sizeof(summary[0]));

    GError *error = NULL;
    GsfOutput *sink = gsf_output_stdio_new(out_path, &error);
    if (sink == NULL)
        return Fail(out_path, error);
    GsfOutfile *root = gsf_outfile_msole_new(sink);
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root), TRANSFORM_CLASS);
    char *pool_name = TableStreamName("_StringPool");
    char *data_name = TableStreamName("_StringData");
    char *property_name = TableStreamName("Property");
    int ok = WriteChild(root, pool_name, string_pool) && WriteChild(root, data_name, string_data) &&
             WriteChild(root, property_name, rows) &&
             WriteChild(root, "\005SummaryInformation", summary_stream);
    ok = gsf_output_close(GSF_OUTPUT(root)) && ok;
    g_object_unref(root);
    g_object_unref(sink);
    g_free(pool_name);
    g_free(data_name);
    g_free(property_name);
    return ok ? 0 : Fail("writing the transform failed", NULL);
}

/* ---- copying storages ---------------------------------------------------- */

static int CopyStream(GsfInput *from, GsfOutput *to)
{
    guint8 chunk[65536];
    gsf_off_t left = gsf_input_size(from);
    while (left > 0) {
        size_t n = left > (gsf_off_t)sizeof(chunk) ? sizeof(chunk) : (size_t)left;
        if (gsf_input_read(from, n, chunk) == NULL || !gsf_output_write(to, n, chunk))
            return 0;
        left -= (gsf_off_t)n;
    }
    return 1;
}

/* Copies every entry of `from` into `to`, storages with their class ids,
 * leaving out the entry named `skip` (may be NULL). */
static int CopyStorage(GsfInfile *from, GsfOutfile *to, const char *skip)
{
    int count = gsf_infile_num_children(from);
    for (int i = 0; i < count; i++) {
        const char *name = gsf_infile_name_by_index(from, i);
        if (skip != NULL && strcmp(name, skip) == 0)
            continue;
        GsfInput *child = gsf_infile_child_by_index(from, i);
        if (child == NULL)
            return 0;
        int is_storage = GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0;
        GsfOutput *copy = gsf_outfile_new_child(to, name, is_storage);
        int ok = copy != NULL;
        if (ok && is_storage) {
            guint8 clsid[16];
            if (GSF_IS_INFILE_MSOLE(child) && gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(child), clsid))
                gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(copy), clsid);
            ok = CopyStorage(GSF_INFILE(child), GSF_OUTFILE(copy), NULL);
        } else if (ok) {
            ok = CopyStream(child, copy);
        }
        if (copy != NULL) {
            ok = gsf_output_close(copy) && ok;
            g_object_unref(copy);
        }
        g_object_unref(child);
        if (!ok)
            return 0;
    }
    return 1;
}

static GsfInfile *OpenCompound(const char *path, GError **error)
{
    GsfInput *input = gsf_input_stdio_new(path, error);
    if (input == NULL)
        return NULL;
    GsfInfile *file = gsf_infile_msole_new(input, error);
    g_object_unref(input);
    return file;
}

/* Rewrites the package without its entry `name`, and with the transform at
 * `transform_path` as sub-storage `name` unless that is NULL. */
static int Rewrite(const char *package_path, const char *name, const char *transform_path)
{
    GError *error = NULL;
    GsfInfile *package = OpenCompound(package_path, &error);
    if (package == NULL)
        return Fail(package_path, error);
    GsfInfile *transform = NULL;
    if (transform_path != NULL && (transform = OpenCompound(transform_path, &error)) == NULL)
        return Fail(transform_path, error);

    char *temporary = g_strconcat(package_path, ".embed", NULL);
    GsfOutput *sink = gsf_output_stdio_new(temporary, &error);
    if (sink == NULL)
        return Fail(temporary, error);
    GsfOutfile *root = gsf_outfile_msole_new(sink);
    guint8 clsid[16];
    if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(package), clsid))
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root), clsid);
    int ok = CopyStorage(package, root, name);
    GsfOutput *storage = ok && transform != NULL ? gsf_outfile_new_child(root, name, TRUE) : NULL;
    if (transform == NULL) {
        /* nothing to add */
    } else if (storage != NULL) {
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(storage), TRANSFORM_CLASS);
        ok = CopyStorage(transform, GSF_OUTFILE(storage), NULL);
        ok = gsf_output_close(storage) && ok;
        g_object_unref(storage);
    } else {
        ok = 0;
    }
    ok = gsf_output_close(GSF_OUTPUT(root)) && ok;
    g_object_unref(root);
    g_object_unref(sink);
    g_object_unref(package);
    if (transform != NULL)
        g_object_unref(transform);
    if (ok && rename(temporary, package_path) != 0)
        ok = 0;
    if (!ok)
        remove(temporary);
    g_free(temporary);
    return ok ? 0 : Fail("rewriting the package failed", NULL);
}

static int Embed(int argc, char **argv)
{
    if (argc != 5)
        return Fail("usage: embed <package.msi> <name> <transform.mst>", NULL);
    return Rewrite(argv[2], argv[3], argv[4]);
}

static int Remove(int argc, char **argv)
{
    if (argc != 4)
        return Fail("usage: remove <package.msi> <name>", NULL);
    return Rewrite(argv[2], argv[3], NULL);
}

static int List(int argc, char **argv)
{
    if (argc != 3)
        return Fail("usage: list <file>", NULL);
    GError *error = NULL;
    GsfInfile *file = OpenCompound(argv[2], &error);
    if (file == NULL)
        return Fail(argv[2], error);
    int count = gsf_infile_num_children(file);
    for (int i = 0; i < count; i++) {
        GsfInput *child = gsf_infile_child_by_index(file, i);
        int is_storage = child != NULL && GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0;
        printf("%s %s\n", is_storage ? "storage" : "stream", gsf_infile_name_by_index(file, i));
        if (child != NULL)
            g_object_unref(child);
    }
    g_object_unref(file);
    return 0;
}

int main(int argc, char **argv)
{
    gsf_init();
    if (argc >= 2 && strcmp(argv[1], "transform") == 0)
        return WriteTransform(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "embed") == 0)
        return Embed(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "remove") == 0)
        return Remove(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "list") == 0)
        return List(argc, argv);
    fprintf(stderr, "usage: msistore transform|embed|remove|list ...\n");
    return 2;
}
