// Body of an asynchronous function run in a hidden, script-free document of
// another origin; |key| arrives as an argument. null: no such key.
return window.localStorage.getItem(key);
