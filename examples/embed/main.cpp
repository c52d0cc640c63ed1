// A host program embedding Ferrow: it evaluates a configuration file written
// as a script, gives the script a value and a host function, reads the
// settings back, and calls a function of the script from C++.
//
//     embed_demo path/to/config.ferrow

#include <ferrow/ferrow.h>

#include <iostream>
#include <string>
#include <vector>

namespace api = ferrow::api;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: embed_demo <config.ferrow>\n";
        return 2;
    }

    api::Options options;
    options.stepBudget = 1000000;  // a configuration has no business looping forever
    options.output = [](std::string_view text) { std::cout << "[script] " << text; };
    api::Engine engine(options);

    engine.set("offset", 80);
    engine.define("host_cores", [](api::Args&) { return api::Value(8); }, 0, 0);

    api::Result result = engine.runFile(argv[1]);
    if (!result) {
        std::cerr << result.error().text << "\n";
        return 1;
    }
    auto settings = result.value().toMap();
    if (!settings) {
        std::cerr << "the configuration must return a map, not a "
                  << result.value().typeName() << "\n";
        return 1;
    }

    std::cout << "name: " << settings->at("name").toString().value_or("?") << "\n";
    std::cout << "port: " << settings->at("port").toInt().value_or(0) << "\n";
    std::cout << "workers: " << settings->at("workers").toInt().value_or(0) << "\n";
    for (const std::string& tag :
         settings->at("tags").to<std::vector<std::string>>().value_or(std::vector<std::string>{})) {
        std::cout << "tag: " << tag << "\n";
    }

    // The script's callback, called from C++.
    api::Result greeting = engine.call(settings->at("greet"), {"Ada"});
    if (!greeting) {
        std::cerr << greeting.error().text << "\n";
        return 1;
    }
    std::cout << greeting.value().toString().value_or("") << "\n";

    // A failure inside the callback comes back as an error, not an exception.
    api::Result failed = engine.call(settings->at("greet"), {});
    std::cout << "bad call: " << failed.error().message << "\n";
    return 0;
}
