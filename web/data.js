// Puts the show's data files into the module's file system before it runs, so that the program reads "data/..."
// as it would on disk. The list (one path a line, relative to the page) names what to fetch; a file the server
// does not have is left out, and the program then says which one is missing, as it does on any other platform.
var QuimblesData = {
    // Adds a run dependency to `module` that is removed once every listed file was fetched or found missing.
    load: function(module, listUrl) {
        module["addRunDependency"]("quimbles-data");
        function put(path, bytes) {
            var parts = path.split("/");
            var folder = "";
            for (var i = 0; i + 1 < parts.length; i++) {
                folder += "/" + parts[i];
                try {
                    module["FS"].mkdir(folder);
                } catch (e) {
                    // already there
                }
            }
            module["FS"].writeFile("/" + path, bytes);
        }
        function fetchFile(path) {
            return fetch(path, {cache: "no-store"}).then(function(response) {
                if (!response.ok)
                    return;
                return response.arrayBuffer().then(function(buffer) { put(path, new Uint8Array(buffer)); });
            }, function() {});
        }
        fetch(listUrl, {cache: "no-store"})
            .then(function(response) { return response.ok ? response.text() : ""; })
            .then(function(text) {
                var paths = text.split("\n").filter(function(line) { return line.trim() !== ""; });
                return Promise.all(paths.map(function(path) { return fetchFile(path.trim()); }));
            })
            .catch(function() {})
            .then(function() { module["removeRunDependency"]("quimbles-data"); });
    }
};
